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

class QWidget;

// Runs alerts modally. The application shows message boxes; tests answer from a script.
class Alerts {
public:
    virtual ~Alerts() = default;
    // The position of the button the user chose in `alert.buttons`; -1 when the alert was closed otherwise.
    // The alert belongs to `window`, the window that asked; without one, to the active window.
    virtual int run(const Alert &alert, QWidget *window) = 0;
    int run(const Alert &alert) { return run(alert, nullptr); }
};
