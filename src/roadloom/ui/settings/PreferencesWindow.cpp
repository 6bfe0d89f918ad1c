#include "roadloom/ui/settings/PreferencesWindow.h"

#include "roadloom/ui/widgets/FirstGeometry.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

PreferencesWindow::PreferencesWindow(AppModel &model, PreferencesView::FFmpegLookup lookup, QWidget *parent)
    : QWidget(parent, Qt::Window), m_view(new PreferencesView(model, std::move(lookup))),
      m_scroll(new QScrollArea)
{
    setWindowTitle(QStringLiteral("Settings"));
    m_scroll->setWidget(m_view);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);
    // Wide enough for the view and a scroll bar.
    setMinimumWidth(sizeHint().width());
    // A window taller than the screen would hide its last rows: it is made to fit and scrolls beyond.
    (new FirstGeometry(*this, sizeHint()))->place();
}

QSize PreferencesWindow::sizeHint() const
{
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return {PreferencesView::width + scrollBar, m_view->sizeHint().height()};
}
