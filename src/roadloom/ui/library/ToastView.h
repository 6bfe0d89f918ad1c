#pragma once

#include "roadloom/model/Toast.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class AppModel;
class QGraphicsOpacityEffect;
class QLabel;
class QParallelAnimationGroup;
class QPropertyAnimation;
class QPushButton;
class SymbolLabel;

// The banner of the application model's current toast, floating 24 px above the bottom centre of the
// window it is a child of: the symbol, the message and, for a file, "Show in File Manager". A new toast
// slides the old banner out and the new one in from the bottom with a fade; clearing slides it out.
class ToastView : public QWidget {
    Q_OBJECT
public:
    static constexpr int bottomSpace = 24;
    static constexpr int duration = 350; // milliseconds
    static constexpr int shadowMargin = 12;
    // The least room between the banner and the window's sides.
    static constexpr int windowSide = 16;

    ToastView(AppModel &model, QWidget *window);

    // The toast on show (or sliding in); none once cleared. While a banner slides, a picture of it moves
    // and the banner itself is hidden.
    const std::optional<Toast> &toast() const { return m_toast; }
    QLabel *messageLabel() const { return m_message; }
    QPushButton *revealButton() const { return m_reveal; }
    bool isAnimating() const;
    // Where the banner rests: centred, 24 px above the window's bottom edge.
    QPoint restingPosition() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow(const std::optional<Toast> &toast);
    void slide(bool in);
    void place();
    int widestMessage() const;
    void fitMessage();

    AppModel &m_model;
    QWidget *m_capsule = nullptr;
    SymbolLabel *m_symbol = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_reveal = nullptr;
    QPointer<QLabel> m_arriving; // the picture sliding in
    qreal m_arrivingOpacity = 0;
    QPointer<QParallelAnimationGroup> m_animation;
    QPointer<QPropertyAnimation> m_slide; // the slide in, while it runs
    std::optional<Toast> m_toast;
};
