#include "roadloom/ui/device/ConfigRow.h"

#include "fixtures/TestSupport.h"
#include "roadloom/model/ConfigStore.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <memory>

namespace {

// A row over one entry of a document opened from a file, shown in a window as in the form.
class ConfigRowTest : public testing::Test {
protected:
    std::unique_ptr<ConfigRow> row(const QString &section, const QString &key, const QString &value)
    {
        const QString path = dir.filePath("blackbox.cfg");
        TestSupport::writeFile(path, ("[" + section + "]\r\n" + key + "=" + value + "\r\n").toUtf8());
        EXPECT_TRUE(TestSupport::finish(store.open(path)));
        EXPECT_TRUE(store.file());
        auto made = std::make_unique<ConfigRow>(store, store.file()->entries().constFirst());
        made->show();
        return made;
    }
    QString value() const { return store.file()->entries().constFirst().value; }
    QStringList items(const ConfigRow &r) const
    {
        auto *combo = qobject_cast<QComboBox *>(r.control());
        QStringList texts;
        for (int i = 0; combo && i < combo->count(); ++i)
            texts.append(combo->itemText(i));
        return texts;
    }

    QTemporaryDir dir;
    ConfigStore store;
};

TEST_F(ConfigRowTest, AChoiceShowsAValueNoOptionHasUntilAnotherIsChosen)
{
    auto r = row("Rec", "rec_quality", "7");
    auto *combo = qobject_cast<QComboBox *>(r->control());
    ASSERT_TRUE(combo);
    EXPECT_EQ(items(*r), (QStringList{"Default", "Highest", "High", "Standard", "Custom (7)"}));
    EXPECT_EQ(combo->currentText(), "Custom (7)");
    EXPECT_FALSE(store.isDirty());

    // Up from the custom value twice: Standard, then High ("1").
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(value(), "2");
    r->refresh(); // as the form does on every change
    QTest::keyClick(combo, Qt::Key_Up);
    r->refresh();
    EXPECT_EQ(value(), "1");
    EXPECT_EQ(items(*r), (QStringList{"Default", "Highest", "High", "Standard"}));
    EXPECT_EQ(combo->currentText(), "High");

    // A value set elsewhere shows without being written back.
    QSignalSpy files(&store, &ConfigStore::fileChanged);
    store.setValue(r->entry(), "-5");
    r->refresh();
    EXPECT_EQ(combo->currentText(), "Custom (-5)");
    EXPECT_EQ(files.count(), 1);
    EXPECT_EQ(value(), "-5");
}

TEST_F(ConfigRowTest, SlidersWriteWholeStepsInTheFormTheFileHad)
{
    struct Case {
        const char *key;
        const char *start;
        Qt::Key key1;
        const char *first;
        const char *second;
        const char *label;
    };
    const Case cases[] = {
        {"power_off_vlt", "12000", Qt::Key_Right, "12100", "12200", "12000 mV"},
        {"local_time", "8", Qt::Key_Right, "8.5", "9.0", "8 h"},
        {"local_time", "8.0", Qt::Key_Right, "8.5", "9.0", "8.0 h"},
        {"local_time", "-12", Qt::Key_Left, "-12", "-12", "-12 h"}, // at its bound: nothing moves
        {"power_off_vlt", "25000", Qt::Key_Left, "24900", "24800", "25000 mV"},
    };
    for (const Case &c : cases) {
        auto r = row("Setting", c.key, c.start);
        auto *slider = qobject_cast<QSlider *>(r->control());
        ASSERT_TRUE(slider) << c.key;
        EXPECT_GE(slider->width(), 140);
        EXPECT_LE(slider->width(), 220);
        EXPECT_EQ(r->valueLabelText(), c.label) << c.start;
        QTest::keyClick(slider, c.key1);
        r->refresh();
        EXPECT_EQ(value(), c.first) << c.key << " " << c.start;
        QTest::keyClick(slider, c.key1);
        r->refresh();
        EXPECT_EQ(value(), c.second) << c.key << " " << c.start;
    }
}

TEST_F(ConfigRowTest, ASliderOnAValueOutsideItsRangeStandsAtABoundWithoutWriting)
{
    struct Case {
        const char *start;
        bool atUpper;
        const char *afterMove; // one step back from that bound (or up from the lower)
    };
    const Case cases[] = {{"", false, "11100"},
                          {"fast", false, "11100"},
                          {"99999", true, "24900"},
                          {"-3", false, "11100"},
                          {"1e400", false, "11100"}};
    for (const Case &c : cases) {
        auto r = row("Setting", "power_off_vlt", c.start);
        auto *slider = qobject_cast<QSlider *>(r->control());
        ASSERT_TRUE(slider);
        EXPECT_EQ(slider->value(), c.atUpper ? slider->maximum() : 0) << c.start;
        EXPECT_EQ(value(), c.start);
        EXPECT_FALSE(store.isDirty()) << c.start;
        QTest::keyClick(slider, c.atUpper ? Qt::Key_Left : Qt::Key_Right);
        EXPECT_EQ(value(), c.afterMove) << c.start;
    }
}

// Scrolling the form over a control changes nothing; a focused control takes the wheel.
TEST_F(ConfigRowTest, TheWheelMovesOnlyAFocusedControl)
{
    for (const char *key : {"power_off_vlt", "rec_quality"}) {
        auto r = row("Setting", key, key == QString("rec_quality") ? "1" : "12000");
        QWidget *control = r->control();
        const QString before = value();
        auto wheel = [&] {
            const QPointF at(control->width() / 2.0, control->height() / 2.0);
            QWheelEvent event(at, control->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(control, &event);
        };
        control->clearFocus();
        wheel();
        EXPECT_EQ(value(), before) << key;
        r->activateWindow();
        control->setFocus();
        ASSERT_TRUE(TestSupport::waitFor([&] { return control->hasFocus(); })) << key;
        wheel();
        EXPECT_NE(value(), before) << key;
    }
}

TEST_F(ConfigRowTest, ATogglesWritesOneAndZero)
{
    auto r = row("Audio", "mic_in", "2");
    auto *box = qobject_cast<QCheckBox *>(r->control());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "Record audio");
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_EQ(value(), "0");
    r->refresh();
    box->click();
    EXPECT_EQ(value(), "1");

    auto empty = row("Audio", "mic_in", "");
    EXPECT_FALSE(qobject_cast<QCheckBox *>(empty->control())->isChecked());
}

TEST_F(ConfigRowTest, AnUnknownKeyIsATextFieldTitledWithItsKey)
{
    auto r = row("X", "custom_thing", "abc");
    auto *field = qobject_cast<QLineEdit *>(r->control());
    ASSERT_TRUE(field);
    EXPECT_EQ(r->title(), "custom_thing");
    EXPECT_TRUE(r->help().isEmpty());
    EXPECT_EQ(field->accessibleName(), "custom_thing");

    field->setFocus();
    field->end(false);
    QTest::keyClicks(field, "de");
    EXPECT_EQ(value(), "abcde"); // every keystroke reaches the document
    r->refresh();
    EXPECT_EQ(field->cursorPosition(), 5);

    // The help line of a key that has one.
    auto voltage = row("Setting", "power_off_vlt", "12000");
    EXPECT_TRUE(voltage->help().startsWith("Stops parking recording"));
    EXPECT_GT(voltage->heightForWidth(200), voltage->heightForWidth(600)) << "a long help wraps";
}

// A pasted multi-line text becomes one line in the field, in the document and on the card.
TEST_F(ConfigRowTest, PastedLineBreaksBecomeSpaces)
{
    auto r = row("X", "note", "abc");
    auto *field = qobject_cast<QLineEdit *>(r->control());
    ASSERT_TRUE(field);
    field->setFocus();
    field->selectAll();
    QGuiApplication::clipboard()->setText("one\r\ntwo\nthree");
    field->paste();
    EXPECT_EQ(field->text(), "one  two three");
    EXPECT_EQ(value(), "one  two three");
    // What saving to the card would write.
    ASSERT_TRUE(TestSupport::finish(store.exportProfile(dir.filePath("exported.cfg"))));
    EXPECT_EQ(store.message(), QString());
    EXPECT_EQ(TestSupport::readFile(dir.filePath("exported.cfg")), "[X]\r\nnote=one  two three\r\n");
}

} // namespace
