#pragma once

#include <QString>
#include <QStringList>

// A modal question with its buttons in order: `defaultButton` (the first unless set) answers Return, a last
// "Cancel" is also the answer to Escape.
struct Alert {
    enum class Style { informational, warning, critical };

    Style style = Style::warning;
    QString messageText;
    QString informativeText;
    QStringList buttons;
    int defaultButton = 0;

    friend bool operator==(const Alert &, const Alert &) = default;
};

// Runs alerts modally. The application shows message boxes; tests answer from a script.
class Alerts {
public:
    virtual ~Alerts() = default;
    // The position of the button the user chose in `alert.buttons`; -1 when the alert was closed otherwise.
    virtual int run(const Alert &alert) = 0;
};
