#include "AppModelHarness.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

// A focusable view that keeps the keys that reach it.
class KeySink : public QWidget {
public:
    KeySink() { setFocusPolicy(Qt::StrongFocus); }
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // The modifier keys themselves are not what the tests are about.
        if (!QList<int>{Qt::Key_Shift, Qt::Key_Control, Qt::Key_Meta, Qt::Key_Alt}.contains(event->key()))
            keys.append(event->key());
    }
};

class AppModelKeys : public ModelTest {
protected:
    QWidget mainWindow;
    KeySink *stage = new KeySink;
    QLineEdit *search = new QLineEdit;
    QWidget settingsWindow;
    KeySink *settingsView = new KeySink;
    DashClip clip = recording("20250101_120000_F", at(1));

    void SetUp() override
    {
        auto *layout = new QVBoxLayout(&mainWindow);
        layout->addWidget(stage);
        layout->addWidget(search);
        (new QVBoxLayout(&settingsWindow))->addWidget(settingsView);
        mainWindow.setWindowTitle("Roadloom");
        settingsWindow.setWindowTitle("Device Settings");
        make({clip});
        mainWindow.show();
        settingsWindow.show();
        activate(mainWindow, stage);
        model->setMainWindow(mainWindow.windowHandle());
    }
    void activate(QWidget &window, QWidget *focus)
    {
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        focus->setFocus();
        ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == focus; }));
    }
    // Paused at 10 s with the players' calls forgotten.
    void rewind()
    {
        if (model->player().isPlaying())
            model->player().togglePlay();
        front().fireTick(10);
        front().calls.clear();
        stage->keys.clear();
        settingsView->keys.clear();
    }
    QStringList moves() const { return front().calls.filter(QRegularExpression("^(seek|step|play)")); }
};

TEST_F(AppModelKeys, PlaybackKeysActOnTheMainWindowAndAreConsumed)
{
    load(clip);
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char *move; // nullptr: the key passes to the view
    };
    const Case cases[] = {
        {Qt::Key_Right, Qt::NoModifier, "seek 15"},     {Qt::Key_Right, Qt::ShiftModifier, "seek 11"},
        {Qt::Key_Left, Qt::NoModifier, "seek 5"},       {Qt::Key_Left, Qt::ShiftModifier, "seek 9"},
        {Qt::Key_Right, Qt::KeypadModifier, "seek 15"}, {Qt::Key_Space, Qt::NoModifier, "play 1"},
        {Qt::Key_Comma, Qt::NoModifier, "step -1"},     {Qt::Key_Period, Qt::NoModifier, "step 1"},
        {Qt::Key_Right, Qt::ControlModifier, nullptr},  {Qt::Key_Right, Qt::MetaModifier, nullptr},
        {Qt::Key_Space, Qt::AltModifier, nullptr},      {Qt::Key_A, Qt::NoModifier, nullptr},
        {Qt::Key_Up, Qt::NoModifier, nullptr},
    };
    // The main window's title follows the loaded recording; the keys must not depend on it.
    for (const char *title : {"Roadloom", "20250101_120000_F"}) {
        mainWindow.setWindowTitle(title);
        for (const auto &c : cases) {
            SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString() + " title " + title);
            rewind();
            QTest::keyClick(mainWindow.windowHandle(), c.key, c.modifiers);
            if (c.move) {
                EXPECT_EQ(moves(), QStringList{c.move});
                EXPECT_TRUE(stage->keys.isEmpty()) << "consumed";
            } else {
                EXPECT_TRUE(moves().isEmpty());
                EXPECT_EQ(stage->keys, QList<int>{c.key}) << "passed on";
            }
        }
    }
}

TEST_F(AppModelKeys, KeysPassWhileTypingInAnotherWindowOrWithoutARecording)
{
    load(clip);
    rewind();
    activate(mainWindow, search);
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_Space);
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_Period);
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_Left);
    EXPECT_EQ(search->text(), " .");
    EXPECT_TRUE(moves().isEmpty());

    activate(settingsWindow, settingsView);
    QTest::keyClick(settingsWindow.windowHandle(), Qt::Key_Right);
    QTest::keyClick(settingsWindow.windowHandle(), Qt::Key_Space);
    EXPECT_EQ(settingsView->keys, (QList<int>{Qt::Key_Right, Qt::Key_Space}));
    EXPECT_TRUE(moves().isEmpty());

    activate(mainWindow, stage);
    model->player().load(std::nullopt, false);
    ASSERT_FALSE(model->player().hasMedia());
    front().calls.clear();
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_Space);
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_Right);
    EXPECT_EQ(stage->keys, (QList<int>{Qt::Key_Space, Qt::Key_Right}));
    EXPECT_TRUE(moves().isEmpty());

    // With no main window registered the keys never act.
    load(clip);
    rewind();
    model->setMainWindow(nullptr);
    QTest::keyClick(mainWindow.windowHandle(), Qt::Key_Space);
    EXPECT_EQ(stage->keys, QList<int>{Qt::Key_Space});
    EXPECT_TRUE(moves().isEmpty());
}

} // namespace
