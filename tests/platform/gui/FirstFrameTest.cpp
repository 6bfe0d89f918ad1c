#include "platform/gui/FirstFrame.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

using TestSupport::waitFor;

namespace {

// Notes each paint of its widgets, in order, into one shared list.
class PaintLog : public QObject {
public:
    explicit PaintLog(QStringList &log) : m_log(log) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            m_log.append(watched->objectName());
        return false;
    }

private:
    QStringList &m_log;
};

} // namespace

// The call comes once, after the window and all its children have painted the first frame, and not for a
// window that was never shown.
TEST(FirstFrame, CallsOnceAfterTheWholeFirstFrameOnly)
{
    QStringList log;
    PaintLog paints(log);
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("window"));
    window->resize(200, 120);
    auto *layout = new QVBoxLayout(window.get());
    for (const char *name : {"upper", "lower"}) {
        auto *child = new QWidget;
        child->setObjectName(QString::fromLatin1(name));
        child->setAutoFillBackground(true);
        layout->addWidget(child);
        child->installEventFilter(&paints);
    }
    window->installEventFilter(&paints);
    int calls = 0;
    FirstFrame::watch(window.get(), [&] {
        ++calls;
        log.append(QStringLiteral("presented"));
    });
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0) << "not shown yet";

    window->show();
    ASSERT_TRUE(waitFor([&] { return calls == 1; }));
    const qsizetype presented = log.indexOf(QStringLiteral("presented"));
    for (const char *name : {"window", "upper", "lower"}) {
        EXPECT_GE(log.indexOf(QLatin1String(name)), 0) << name;
        EXPECT_LT(log.indexOf(QLatin1String(name)), presented) << name << " painted after the call";
    }
    window->update();
    window->hide();
    window->show();
    waitFor([] { return false; }, 100);
    EXPECT_EQ(calls, 1);

    // Never shown, then gone: no call, and the watcher goes with it.
    QPointer<QWidget> hidden = new QWidget;
    bool called = false;
    FirstFrame::watch(hidden, [&] { called = true; });
    delete hidden;
    waitFor([] { return false; }, 50);
    EXPECT_FALSE(called);
}
