#include "platform/gui/DialogPanels.h"
#include "platform/gui/MessageAlerts.h"

#include "fixtures/ModalDialogs.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace {

using ModalDialogs::whenShown;

// Types the answer into the file name field and presses Open or Save. QFileDialog::selectFile() leaves the
// field alone while it has the keyboard focus, which it gets only once the window is activated: selecting
// there would depend on how fast the window manager is.
void answer(QFileDialog *dialog, const QString &folder, const QString &text)
{
    dialog->setDirectory(folder);
    auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    ASSERT_TRUE(name);
    name->setText(text);
    static_cast<QDialog *>(dialog)->accept();
}

TEST(DialogPanels, CancelledPanelsAnswerNothing)
{
    DialogPanels panels;
    const auto cancelFolder = whenShown<QFileDialog>([](QFileDialog *d) { d->reject(); });
    EXPECT_EQ(panels.chooseFolder("Open Dashcam Folder or SD Card", "Open"), std::nullopt);
    const auto cancelSave = whenShown<QFileDialog>([](QFileDialog *d) { d->reject(); });
    EXPECT_EQ(panels.save("clip.gpx", "text/plain"), std::nullopt);
    const auto cancelOpen = whenShown<QFileDialog>([](QFileDialog *d) { d->reject(); });
    EXPECT_TRUE(panels.openFiles({"video/mp4"}).isEmpty());
}

TEST(DialogPanels, ChosenAnswersComeBackAsPaths)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("Card");
    TestSupport::writeFile(dir.filePath("a.mp4"), "x");
    TestSupport::writeFile(dir.filePath("b.mp4"), "x");
    DialogPanels panels;

    QString title, prompt;
    const auto chooseCard = whenShown<QFileDialog>([&](QFileDialog *d) {
        title = d->windowTitle();
        prompt = d->labelText(QFileDialog::Accept);
        EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
        answer(d, dir.path(), dir.filePath("Card"));
    });
    EXPECT_EQ(panels.chooseFolder("Save clip", "Save Here"), dir.filePath("Card"));
    EXPECT_EQ(title, "Save clip");
    EXPECT_EQ(prompt, "Save Here");

    QString proposed;
    const auto saveRoute = whenShown<QFileDialog>([&](QFileDialog *d) {
        EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
        proposed = d->selectedFiles().value(0);
        answer(d, dir.path(), "route.gpx");
    });
    EXPECT_EQ(panels.save("clip.gpx", "application/gpx+xml"), dir.filePath("route.gpx"));
    EXPECT_TRUE(proposed.endsWith("/clip.gpx")) << proposed.toStdString();

    const auto openTwo =
        whenShown<QFileDialog>([&](QFileDialog *d) { answer(d, dir.path(), "\"a.mp4\" \"b.mp4\""); });
    EXPECT_EQ(panels.openFiles({"video/mp4"}), (QStringList{dir.filePath("a.mp4"), dir.filePath("b.mp4")}));
}

TEST(DialogPanels, OffersNameFiltersBesideMimeTypes)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("blackbox.cfg"), "x");
    DialogPanels panels;
    const QString camera = "Camera settings (*.cfg *.CFG)";

    QStringList filters;
    const auto open = whenShown<QFileDialog>([&](QFileDialog *d) {
        filters = d->nameFilters();
        answer(d, dir.path(), "blackbox.cfg");
    });
    // Tests see no MIME database, so the MIME type here is an unknown one: it is left out.
    EXPECT_EQ(panels.openFiles({camera, "no/such-type"}), QStringList{dir.filePath("blackbox.cfg")});
    EXPECT_EQ(filters, QStringList{camera});

    // A name typed without an extension gets the filter's.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Exports"));
    const QString exports = dir.filePath("Exports");
    QString suffix;
    const auto save = whenShown<QFileDialog>([&](QFileDialog *d) {
        filters = d->nameFilters();
        suffix = d->defaultSuffix();
        answer(d, exports, "profile");
    });
    EXPECT_EQ(panels.save("blackbox.cfg", camera), exports + "/profile.cfg");
    EXPECT_EQ(filters, QStringList{camera});
    EXPECT_EQ(suffix, "cfg");
}

TEST(MessageAlerts, AnswersThePositionOfTheChosenButton)
{
    const Alert alert{Alert::Style::warning,
                      "Move “x” to the Trash?",
                      "Files go to the Trash.",
                      {"Move to Trash", "Cancel"}};
    struct Case {
        const char *press; // button text, or nullptr for Escape
        int expected;
    };
    const Case cases[] = {{"Move to Trash", 0}, {"Cancel", 1}, {nullptr, 1}};
    for (const auto &c : cases) {
        MessageAlerts alerts;
        QString text, informative;
        const auto answering = whenShown<QMessageBox>([&](QMessageBox *box) {
            text = box->text();
            informative = box->informativeText();
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            EXPECT_EQ(box->defaultButton()->text(), "Move to Trash");
            if (!c.press) {
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            for (QAbstractButton *button : box->buttons())
                if (button->text() == QString::fromUtf8(c.press))
                    button->click();
        });
        EXPECT_EQ(alerts.run(alert), c.expected) << (c.press ? c.press : "Escape");
        EXPECT_EQ(text, alert.messageText);
        EXPECT_EQ(informative, alert.informativeText);
    }
}

TEST(MessageAlerts, ReturnChoosesTheGivenDefaultButton)
{
    Alert alert{Alert::Style::warning,
                "The camera settings have unsaved changes.",
                "",
                {"Discard Changes", "Cancel"}};
    alert.defaultButton = 1;
    MessageAlerts alerts;
    QString defaultText;
    const auto answering = whenShown<QMessageBox>([&](QMessageBox *box) {
        defaultText = box->defaultButton()->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(alerts.run(alert), 1);
    EXPECT_EQ(defaultText, "Cancel");
}

// An alert sits over the window that asked for it, not the active one, and a sentence of explanation under
// a short title stays on one line.
TEST(MessageAlerts, BelongToTheAskingWindowAndAreAsWideAsTheirSentence)
{
    QWidget active, asking;
    active.resize(300, 200);
    asking.resize(300, 200);
    asking.show();
    active.show();
    active.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&active));
    const QString texts[] = {"Applied 2 setting(s) from profile.cfg. Review, then Save to Card.",
                             "No differing settings found in same.cfg.",
                             "Settings saved. Insert the card into the dashcam to apply them."};
    for (const QString &text : texts) {
        SCOPED_TRACE(text.toStdString());
        QWidget *parent = nullptr;
        int labelWidth = 0, labelHeight = 0, needed = 0, lineHeight = 0;
        const auto answering = whenShown<QMessageBox>([&](QMessageBox *box) {
            parent = box->parentWidget();
            auto *informative = box->findChild<QLabel *>("qt_msgbox_informativelabel");
            ASSERT_NE(informative, nullptr);
            labelWidth = informative->width();
            labelHeight = informative->heightForWidth(informative->width());
            lineHeight = informative->heightForWidth(5000); // the text on one line
            needed = informative->fontMetrics().horizontalAdvance(text);
            box->accept();
        });
        MessageAlerts alerts;
        alerts.run({Alert::Style::informational, "Device Settings", text, {"OK"}}, &asking);
        EXPECT_EQ(parent, &asking);
        EXPECT_GE(labelWidth, needed);
        EXPECT_EQ(labelHeight, lineHeight) << "on one line";
    }
    // A long explanation still wraps, at a readable width.
    QString paragraph;
    for (int i = 0; i < 12; ++i)
        paragraph += "Recordings whose originals are no longer available will be removed. ";
    int width = 0;
    const auto answering = whenShown<QMessageBox>([&](QMessageBox *box) {
        width = box->findChild<QLabel *>("qt_msgbox_informativelabel")->width();
        box->accept();
    });
    MessageAlerts().run({Alert::Style::warning, "Clear?", paragraph, {"OK"}}, &asking);
    EXPECT_LE(width, MessageAlerts::widestText + 40);
}

} // namespace
