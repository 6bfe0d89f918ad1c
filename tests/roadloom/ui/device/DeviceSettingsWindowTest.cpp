#include "roadloom/ui/device/DeviceSettingsWindow.h"

#include "roadloom/model/AppModelHarness.h"

#include "platform/StandardFolders.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/widgets/FormSection.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolBar>

using namespace AppHarness;
using TestSupport::readFile;
using TestSupport::waitFor;
using TestSupport::writeFile;

namespace {

const QByteArray cardBytes =
    "; settings of the camera\r\n[Rec]\r\nrec_quality=1\r\nfront_resolution=1920x1080\r\n"
    "[Audio]\r\nmic_in=1\r\n[Time]\r\nlocal_time=8\r\n[capacity]\r\nconst=60\r\nodd=1\r\n";

class DeviceSettingsWindowTest : public ModelTest {
protected:
    void SetUp() override { QDir(StandardFolders::configBackups()).removeRecursively(); }
    void TearDown() override
    {
        window.reset();
        QDir(StandardFolders::configBackups()).removeRecursively();
        ModelTest::TearDown();
    }

    // A mounted camera card, with a configuration file when bytes are given.
    MountedVolume mount(const QString &name, const QByteArray &config = {})
    {
        const QString root = dir.filePath("media/" + name);
        EXPECT_TRUE(QDir().mkpath(root + "/DCIM"));
        if (!config.isEmpty())
            writeFile(root + "/SETTING/blackbox.cfg", config);
        return MountedVolume{root, name, false};
    }
    DeviceSettingsWindow &open()
    {
        window = std::make_unique<DeviceSettingsWindow>(*model);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Its shortcuts (Ctrl+S) work while it is the active window.
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return *window;
    }
    // Opens the card's file from the picker.
    void openCard(const QString &name)
    {
        for (QPushButton *button : window->pickerButtons())
            if (button->text().startsWith(name + " — "))
                button->click();
        ASSERT_TRUE(TestSupport::waitFor([&] { return model->config().file().has_value(); }));
    }
    QStringList pickerTexts() const
    {
        QStringList texts;
        for (QPushButton *button : window->pickerButtons())
            texts.append(button->text());
        return texts;
    }
    ConfigRow *row(const QString &key) const
    {
        for (ConfigRow *r : window->rows())
            if (r->entry().key == key)
                return r;
        return nullptr;
    }
    // The titles of the sections on screen.
    QStringList sections() const
    {
        QStringList titles;
        for (FormSection *section : window->findChildren<FormSection *>())
            if (section->isVisibleTo(window.get()))
                titles.append(section->header().isEmpty() ? "File" : section->header());
        return titles;
    }
    QAction *action(const QString &text) const
    {
        for (QAction *a : window->toolBar()->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }
    // The messages shown since the last call, once one is (the card is read and written off the GUI
    // thread).
    QStringList alertShown()
    {
        EXPECT_TRUE(TestSupport::waitFor([&] { return !alerts.shown.isEmpty(); }));
        return alertsShown();
    }
    // The messages shown since the last call, after the queued alerts ran.
    QStringList alertsShown()
    {
        QCoreApplication::processEvents();
        QStringList texts;
        styles.clear();
        for (const Alert &alert : alerts.shown) {
            EXPECT_EQ(alert.messageText, "Device Settings");
            EXPECT_EQ(alert.buttons, QStringList{"OK"});
            texts.append(alert.informativeText);
            styles.append(alert.style);
        }
        // Over this window, whichever window is active.
        for (QWidget *asking : alerts.windows)
            EXPECT_EQ(asking, window.get());
        alerts.shown.clear();
        alerts.windows.clear();
        return texts;
    }

    std::unique_ptr<DeviceSettingsWindow> window;
    QList<Alert::Style> styles; // of the alerts alertsShown() last returned
};

using Style = Alert::Style;

TEST_F(DeviceSettingsWindowTest, ThePickerOffersOnlyCardsWithAFile)
{
    volumes.volumes = {mount("NO NAME", cardBytes), mount("EMPTY")};
    make({});
    open();
    EXPECT_EQ(window->windowTitle(), "Device Settings");
    EXPECT_TRUE(window->picker()->isVisible());
    EXPECT_FALSE(window->toolBar()->isVisible());
    EXPECT_EQ(pickerTexts(), (QStringList{"NO NAME — blackbox.cfg", "Open Configuration File…"}));

    // A card taken out, another put in: the list follows the mounted cards as they answer.
    volumes.change({mount("EMPTY"), mount("CAM2", "a=1\n")});
    EXPECT_TRUE(TestSupport::waitFor([&] {
        return pickerTexts() == QStringList{"CAM2 — blackbox.cfg", "Open Configuration File…"};
    }));
    volumes.change({});
    EXPECT_EQ(pickerTexts(), QStringList{"Open Configuration File…"});

    // The open button asks for camera settings or plain text; a cancelled panel does nothing.
    window->pickerButtons().constLast()->click();
    EXPECT_EQ(panels.calls, QStringList{"openFiles Camera settings (*.cfg *.CFG), text/plain"});
    EXPECT_FALSE(model->config().file());
    panels.openAnswer = {dir.filePath("media/CAM2/SETTING/blackbox.cfg")};
    window->pickerButtons().constLast()->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return model->config().file().has_value(); }));
    EXPECT_EQ(window->windowTitle(), "Device Settings — blackbox.cfg");
    EXPECT_FALSE(window->picker()->isVisible());
    EXPECT_TRUE(window->toolBar()->isVisible());
    EXPECT_TRUE(alertsShown().isEmpty());
}

TEST_F(DeviceSettingsWindowTest, TheFormGroupsFiltersAndFollowsTheFile)
{
    volumes.volumes = {mount("NO NAME", cardBytes)};
    make({});
    open();
    openCard("NO NAME");
    const QString path = dir.filePath("media/NO NAME/SETTING/blackbox.cfg");
    EXPECT_EQ(window->windowTitle(), "Device Settings — blackbox.cfg");
    EXPECT_EQ(window->findChild<QLineEdit *>("path")->text(), path);
    EXPECT_EQ(sections(),
              (QStringList{"File", "Recording", "Audio", "System", "Memory Partition", "Other [capacity]"}));
    EXPECT_EQ(window->formBuilds(), 1);

    struct Case {
        const char *filter;
        QStringList shown;
    };
    const Case cases[] = {
        {"zone", {"File", "System"}}, // a title, not the key
        {"MIC", {"File", "Audio"}},   // a key, in any case
        {"capacity", {"File"}},       // section names are not searched
        {"nothing like it", {"File"}},
        {"", {"File", "Recording", "Audio", "System", "Memory Partition", "Other [capacity]"}}};
    for (const Case &c : cases) {
        window->filterField()->clear();
        QTest::keyClicks(window->filterField(), c.filter);
        EXPECT_EQ(window->filter(), c.filter);
        EXPECT_EQ(sections(), c.shown) << c.filter;
    }
    EXPECT_EQ(window->formBuilds(), 1) << "the filter hides rows, it builds none";

    // The raw text: the whole file, without the filter field.
    QAction *raw = action("Raw");
    ASSERT_TRUE(raw);
    raw->trigger();
    EXPECT_TRUE(window->showRaw());
    EXPECT_TRUE(window->rawText()->isVisible());
    EXPECT_TRUE(waitFor([&] { return !window->filterField()->isVisible(); }));
    EXPECT_EQ(window->rawText()->toPlainText(), QString::fromUtf8(cardBytes).replace("\r\n", "\n"));
    model->config().setValue(row("mic_in")->entry(), "0");
    EXPECT_TRUE(window->rawText()->toPlainText().contains("\nmic_in=0\n"));
    raw->trigger();
    EXPECT_TRUE(waitFor([&] { return window->filterField()->isVisible(); }));

    // Close File drops the edits silently, and the window keeps its view settings for the next file.
    window->setFilter("mic");
    action("Close File")->trigger();
    EXPECT_EQ(window->windowTitle(), "Device Settings");
    EXPECT_TRUE(window->picker()->isVisible());
    EXPECT_FALSE(model->config().isDirty());
    EXPECT_TRUE(alertsShown().isEmpty());
    openCard("NO NAME");
    EXPECT_EQ(window->filter(), "mic");
    EXPECT_EQ(sections(), (QStringList{"File", "Audio"}));
    EXPECT_EQ(model->config().value(row("mic_in")->entry()), "1");
}

TEST_F(DeviceSettingsWindowTest, AnotherFileOfTheSameEntriesKeepsTheRows)
{
    volumes.volumes = {mount("A", cardBytes),
                       mount("B", QByteArray(cardBytes).replace("mic_in=1", "mic_in=0"))};
    make({});
    open();
    openCard("A");
    const QList<ConfigRow *> rows = window->rows();
    auto *mic = qobject_cast<QAbstractButton *>(row("mic_in")->control());
    ASSERT_TRUE(mic);
    EXPECT_TRUE(mic->isChecked());

    // Opened from outside, as a drop does: the same rows show the other file's values and path.
    const QString other = dir.filePath("media/B/SETTING/blackbox.cfg");
    ASSERT_TRUE(TestSupport::finish(model->library().open({other})));
    EXPECT_EQ(model->config().url(), other);
    EXPECT_EQ(window->rows(), rows);
    EXPECT_EQ(window->formBuilds(), 1);
    EXPECT_FALSE(mic->isChecked());
    EXPECT_EQ(window->findChild<QLineEdit *>("path")->text(), other);

    // Other entries: a new form.
    writeFile(dir.filePath("small.cfg"), "[Audio]\nmic_in=1\n");
    ASSERT_TRUE(TestSupport::finish(model->library().open({dir.filePath("small.cfg")})));
    EXPECT_EQ(window->formBuilds(), 2);
    EXPECT_EQ(window->rows().size(), 1);
    EXPECT_EQ(window->windowTitle(), "Device Settings — small.cfg");
}

TEST_F(DeviceSettingsWindowTest, EditsRefreshRowsInPlaceAndKeepTheFocus)
{
    volumes.volumes = {mount("NO NAME", cardBytes)};
    make({});
    open();
    openCard("NO NAME");
    window->activateWindow();
    auto *field = qobject_cast<QLineEdit *>(row("front_resolution")->control());
    ASSERT_TRUE(field);
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == field; }));
    const QList<ConfigRow *> rows = window->rows();
    QTest::keyClicks(field, "p");
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClicks(field, "x");
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(field->cursorPosition(), 1);
    EXPECT_EQ(field->text(), "x1920x1080p");
    EXPECT_EQ(model->config().value(row("front_resolution")->entry()), "x1920x1080p");
    EXPECT_EQ(window->rows(), rows);
    EXPECT_EQ(window->formBuilds(), 1);
    EXPECT_TRUE(window->saveButton()->isEnabled());

    // Revert: every row shows the saved values again, nothing is written back, the document is clean.
    auto *slider = qobject_cast<QSlider *>(row("local_time")->control());
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(model->config().value(row("local_time")->entry()), "8.5");
    action("Revert")->trigger();
    EXPECT_EQ(field->text(), "1920x1080");
    EXPECT_EQ(slider->value(), 40);
    EXPECT_EQ(row("local_time")->valueLabelText(), "8 h");
    EXPECT_FALSE(model->config().isDirty());
    EXPECT_FALSE(window->saveButton()->isEnabled());
    EXPECT_FALSE(action("Revert")->isEnabled());
    EXPECT_EQ(window->formBuilds(), 1);
    EXPECT_TRUE(alertsShown().isEmpty());
}

TEST_F(DeviceSettingsWindowTest, ImportChangesOnlyTheDocument)
{
    volumes.volumes = {mount("NO NAME", cardBytes)};
    make({});
    open();
    openCard("NO NAME");
    const QString card = dir.filePath("media/NO NAME/SETTING/blackbox.cfg");

    writeFile(dir.filePath("same.cfg"), "[Rec]\nrec_quality=1\n[Audio]\nmic_in=1\nother=5\n");
    panels.openAnswer = {dir.filePath("same.cfg")};
    action("Import Profile…")->trigger();
    EXPECT_EQ(alertShown(), QStringList{"No differing settings found in same.cfg."});
    EXPECT_EQ(styles, QList{Style::informational});
    EXPECT_TRUE(model->config().message().isEmpty());
    EXPECT_FALSE(model->config().isDirty());
    EXPECT_FALSE(window->saveButton()->isEnabled());

    writeFile(dir.filePath("three.cfg"), "[Rec]\nrec_quality=2\n[Audio]\nmic_in=0\n[Time]\nlocal_time=9.5\n");
    panels.openAnswer = {dir.filePath("three.cfg")};
    action("Import Profile…")->trigger();
    EXPECT_EQ(alertShown(), QStringList{"Applied 3 setting(s) from three.cfg. Review, then Save to Card."});
    EXPECT_TRUE(model->config().isDirty());
    EXPECT_EQ(row("local_time")->valueLabelText(), "9.5 h");
    EXPECT_EQ(readFile(card), cardBytes);
    EXPECT_EQ(window->formBuilds(), 1);

    // A profile that cannot be read says why.
    panels.openAnswer = {dir.filePath("absent.cfg")};
    action("Import Profile…")->trigger();
    const QStringList shown = alertShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("absent.cfg")) << shown[0].toStdString();
    EXPECT_EQ(styles, QList{Style::warning});
    EXPECT_TRUE(model->config().isDirty());

    // Export writes the edited document elsewhere, proposing the card's file name.
    panels.calls.clear();
    panels.saveAnswer = dir.filePath("exported.cfg");
    action("Export Profile…")->trigger();
    EXPECT_EQ(panels.calls, QStringList{"save blackbox.cfg | Camera settings (*.cfg *.CFG)"});
    ASSERT_TRUE(TestSupport::waitFor([&] { return QFileInfo::exists(dir.filePath("exported.cfg")); }));
    EXPECT_TRUE(readFile(dir.filePath("exported.cfg")).contains("\r\nlocal_time=9.5\r\n"));
    EXPECT_EQ(readFile(card), cardBytes);
    EXPECT_TRUE(alertsShown().isEmpty());
    // An export that cannot be written says why, as a warning.
    panels.saveAnswer = dir.filePath("no folder/exported.cfg");
    action("Export Profile…")->trigger();
    EXPECT_EQ(alertShown().size(), 1);
    EXPECT_EQ(styles, QList{Style::warning});
}

TEST_F(DeviceSettingsWindowTest, SaveToCardWritesTheEditedLineAndKeepsABackup)
{
    volumes.volumes = {mount("NO NAME", cardBytes)};
    make({});
    open();
    openCard("NO NAME");
    const QString card = dir.filePath("media/NO NAME/SETTING/blackbox.cfg");

    // Ctrl+S while clean does nothing.
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(alertsShown().isEmpty());
    EXPECT_FALSE(QDir(StandardFolders::configBackups()).exists());

    auto *toggle = row("mic_in")->control();
    static_cast<QAbstractButton *>(toggle)->click();
    EXPECT_TRUE(window->saveButton()->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(alertShown(), QStringList{"Settings saved. Insert the card into the dashcam to apply them."});
    EXPECT_EQ(styles, QList{Style::informational});
    EXPECT_EQ(readFile(card), QByteArray(cardBytes).replace("mic_in=1", "mic_in=0"));
    const QStringList backups = QDir(StandardFolders::configBackups()).entryList(QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(backups[0].startsWith("NO NAME-") || backups[0].startsWith("local-"))
        << backups[0].toStdString();
    EXPECT_EQ(readFile(QDir(StandardFolders::configBackups()).filePath(backups[0])), cardBytes);
    EXPECT_FALSE(model->config().isDirty());
    EXPECT_FALSE(window->saveButton()->isEnabled());

    // The card's folder is gone: the reason is shown and the edits stay.
    static_cast<QAbstractButton *>(toggle)->click();
    ASSERT_TRUE(QDir(dir.filePath("media/NO NAME/SETTING")).removeRecursively());
    window->saveButton()->click();
    const QStringList shown = alertShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith("Couldn’t save “blackbox.cfg”")) << shown[0].toStdString();
    EXPECT_EQ(styles, QList{Style::warning}) << "a failure carries the warning sign";
    EXPECT_TRUE(model->config().isDirty());
    EXPECT_TRUE(window->saveButton()->isEnabled());
    EXPECT_TRUE(model->config().message().isEmpty());
}

TEST_F(DeviceSettingsWindowTest, MessagesPassThroughOneAlertEach)
{
    make({});
    // A message from before the window opened is shown when it does.
    ASSERT_TRUE(TestSupport::finish(model->config().open(dir.filePath("missing.cfg"))));
    ASSERT_FALSE(model->config().message().isEmpty());
    open();
    QStringList shown = alertsShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("missing.cfg"));
    EXPECT_EQ(styles, QList{Style::warning});
    EXPECT_TRUE(model->config().message().isEmpty());
    EXPECT_TRUE(window->picker()->isVisible());

    // Set from inside a signal handler of the store, the alert still waits for the event loop.
    bool inside = false;
    int during = -1;
    QObject::connect(&model->config(), &ConfigStore::messageChanged, window.get(), [&] {
        inside = true;
        during = int(alerts.shown.size());
    });
    model->config().setMessage("one");
    EXPECT_TRUE(inside);
    EXPECT_EQ(during, 0);
    EXPECT_EQ(alerts.shown.size(), 0);
    model->config().setMessage("two"); // replaced before it was shown
    EXPECT_EQ(alertsShown(), QStringList{"two"});
    EXPECT_TRUE(model->config().message().isEmpty());
    EXPECT_TRUE(alertsShown().isEmpty());
}

} // namespace
