#include "AppModelHarness.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>
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

// Every key of the Playback menu's key line, with the keyboard on each kind of widget of the main window:
// lists (the recordings, the sources), buttons and fields that only show text play; fields that take typed
// text keep the keys.
TEST_F(AppModelKeys, PlaybackKeysActBesideAnythingButAFieldThatTakesText)
{
    load(clip);
    QStandardItemModel items;
    for (const char *name : {"20250101_120000_F", "20250101_130000_F", "Beta"})
        items.appendRow(new QStandardItem(QString::fromLatin1(name)));
    auto *list = new QListView;
    auto *sources = new QTreeView;
    for (QAbstractItemView *view :
         {static_cast<QAbstractItemView *>(list), static_cast<QAbstractItemView *>(sources)}) {
        view->setModel(&items);
        view->setCurrentIndex(items.index(0, 0));
        // Newer Qt versions take input methods in item views for their type-ahead search.
        view->setAttribute(Qt::WA_InputMethodEnabled);
    }
    auto *button = new QPushButton(QStringLiteral("Export"));
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    auto *shown = new QLineEdit(QStringLiteral("shown"));
    shown->setReadOnly(true);
    auto *picker = new QComboBox;
    picker->addItems({QStringLiteral("One"), QStringLiteral("Two")});
    auto *editablePicker = new QComboBox;
    editablePicker->setEditable(true);
    auto *spin = new QSpinBox;
    auto *text = new QPlainTextEdit;
    for (QWidget *each :
         std::initializer_list<QWidget *>{list, sources, button, shown, picker, editablePicker, spin, text})
        mainWindow.layout()->addWidget(each);

    struct Key {
        Qt::Key key;
        const char *move;
    };
    const Key keys[] = {{Qt::Key_Space, "play 1"},
                        {Qt::Key_Left, "seek 5"},
                        {Qt::Key_Right, "seek 15"},
                        {Qt::Key_Comma, "step -1"},
                        {Qt::Key_Period, "step 1"}};
    struct Case {
        const char *what;
        QWidget *focus;
        bool typing;
    };
    const Case cases[] = {
        {"recording list", list, false},
        {"source list", sources, false},
        {"button", button, false},
        {"read-only field", shown, false},
        {"picker", picker, false},
        {"search field", search, true},
        {"editable picker", editablePicker, true},
        {"spin box", spin, true},
        {"text view", text, true},
    };
    for (const Case &c : cases) {
        activate(mainWindow, c.focus);
        for (const Key &k : keys) {
            SCOPED_TRACE(std::string(c.what) + " " + QKeySequence(k.key).toString().toStdString());
            rewind();
            QTest::keyClick(mainWindow.windowHandle(), k.key);
            EXPECT_EQ(moves(), c.typing ? QStringList() : QStringList{k.move});
        }
    }
    EXPECT_EQ(clicks, 0) << "Space plays, it does not press the focused button";
    EXPECT_EQ(list->currentIndex().row(), 0);
    EXPECT_EQ(text->toPlainText(), " ,.");
    EXPECT_EQ(search->text(), " ,.");
}

} // namespace
