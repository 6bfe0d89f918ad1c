#include "roadloom/ui/detail/DetailView.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/detail/DeckResizeHandle.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"

#include <QEvent>
#include <QPointer>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The deck's place: as high as the preference when there is room, squeezed when there is not, without
// ever asking the window for more than nothing. A deck taller than its place is cut at the bottom.
class DeckArea final : public QWidget {
public:
    explicit DeckArea(QWidget *parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }
    void setDeck(QWidget *deck)
    {
        delete m_deck;
        m_deck = deck;
        if (deck) {
            deck->setParent(this);
            deck->show();
            applyHeight();
            place();
        }
    }
    void setPreferredHeight(double height)
    {
        m_height = std::max(0, int(std::lround(height)));
        applyHeight();
    }
    QSize sizeHint() const override { return {m_deck ? m_deck->sizeHint().width() : 0, wantedHeight()}; }
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void resizeEvent(QResizeEvent *) override { place(); }
    bool event(QEvent *event) override
    {
        // The deck's least height changed (it went into two rows, or back).
        if (event->type() == QEvent::LayoutRequest)
            applyHeight();
        return QWidget::event(event);
    }

private:
    // The user's height, or the deck's least height when that is more: a deck in two rows is not cut.
    int wantedHeight() const { return std::max(m_height, m_deck ? m_deck->minimumSizeHint().height() : 0); }
    void applyHeight()
    {
        if (maximumHeight() == wantedHeight())
            return;
        setMaximumHeight(wantedHeight());
        updateGeometry();
    }
    void place()
    {
        if (m_deck)
            m_deck->setGeometry(0, 0, width(), std::max(height(), m_deck->minimumSizeHint().height()));
    }
    QPointer<QWidget> m_deck;
    int m_height = 0;
};

} // namespace

DetailView::DetailView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    m_pages = new QStackedLayout(this);

    m_placeholder = new ContentUnavailableWidget(placeholderSymbol, placeholderTitle, placeholderDescription);
    m_pages->addWidget(m_placeholder);

    m_playerPage = new QWidget;
    auto *column = new QVBoxLayout(m_playerPage);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_playerArea = new QWidget;
    m_playerArea->setMinimumHeight(minimumPlayerHeight);
    m_playerArea->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    auto *playerColumn = new QVBoxLayout(m_playerArea);
    playerColumn->setContentsMargins(0, 0, 0, 0);
    playerColumn->setSpacing(0);
    m_stage = new VideoStage(model);
    m_stage->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    playerColumn->addWidget(m_stage, 1);
    m_transportSlot = new QVBoxLayout;
    m_transportSlot->setContentsMargins(0, 0, 0, 0);
    playerColumn->addLayout(m_transportSlot);
    column->addWidget(m_playerArea, 1);

    m_handle = new DeckResizeHandle(model.preferences());
    column->addWidget(m_handle);
    m_deckArea = new DeckArea(m_playerPage);
    column->addWidget(m_deckArea);
    m_pages->addWidget(m_playerPage);

    connect(m_stage, &VideoStage::settingsRequested, this, &DetailView::settingsRequested);
    connect(&model.player(), &PlayerController::clipChanged, this, &DetailView::syncPage);
    connect(&model, &AppModel::theaterModeChanged, this, &DetailView::syncTheater);
    connect(&model.preferences(), &Preferences::deckHeightChanged, this, &DetailView::syncDeckHeight);
    syncDeckHeight();
    syncTheater();
    syncPage();
}

void DetailView::setTransportBar(QWidget *bar)
{
    while (QLayoutItem *item = m_transportSlot->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (bar)
        m_transportSlot->addWidget(bar);
}

void DetailView::setDeck(QWidget *deck)
{
    static_cast<DeckArea *>(m_deckArea)->setDeck(deck);
}

QString DetailView::title() const
{
    const std::optional<DashClip> &clip = m_model.player().clip();
    return clip ? clip->name : appTitle;
}

bool DetailView::showsPlayer() const
{
    return m_pages->currentWidget() == m_playerPage;
}

void DetailView::syncPage()
{
    m_pages->setCurrentWidget(m_model.player().clip() ? m_playerPage : static_cast<QWidget *>(m_placeholder));
    applyTitle();
}

void DetailView::syncTheater()
{
    const bool deck = !m_model.theaterMode();
    m_handle->setVisible(deck);
    m_deckArea->setVisible(deck);
}

void DetailView::syncDeckHeight()
{
    static_cast<DeckArea *>(m_deckArea)->setPreferredHeight(m_model.preferences().deckHeight());
}

void DetailView::applyTitle()
{
    const QString now = title();
    if (window() != this)
        window()->setWindowTitle(now);
    if (now == m_title)
        return;
    m_title = now;
    emit titleChanged(now);
}

bool DetailView::event(QEvent *event)
{
    // Put into a window later: give that window the title.
    if (event->type() == QEvent::ParentChange)
        applyTitle();
    return QWidget::event(event);
}
