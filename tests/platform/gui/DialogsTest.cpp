#include "platform/gui/DialogPanels.h"
#include "platform/gui/MessageAlerts.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Acts on the modal dialog once it is shown, as the user would.
template <class Dialog> void whenShown(std::function<void(Dialog *)> act)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

TEST(DialogPanels, CancelledPanelsAnswerNothing)
{
    DialogPanels panels;
    whenShown<QFileDialog>([](QFileDialog *d) { d->reject(); });
    EXPECT_EQ(panels.chooseFolder("Open Dashcam Folder or SD Card", "Open"), std::nullopt);
    whenShown<QFileDialog>([](QFileDialog *d) { d->reject(); });
    EXPECT_EQ(panels.save("clip.gpx", "text/plain"), std::nullopt);
    whenShown<QFileDialog>([](QFileDialog *d) { d->reject(); });
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
    whenShown<QFileDialog>([&](QFileDialog *d) {
        title = d->windowTitle();
        prompt = d->labelText(QFileDialog::Accept);
        EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
        d->setDirectory(dir.path());
        d->selectFile(dir.filePath("Card"));
        static_cast<QDialog *>(d)->accept();
    });
    EXPECT_EQ(panels.chooseFolder("Save clip", "Save Here"), dir.filePath("Card"));
    EXPECT_EQ(title, "Save clip");
    EXPECT_EQ(prompt, "Save Here");

    QString proposed;
    whenShown<QFileDialog>([&](QFileDialog *d) {
        EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
        proposed = d->selectedFiles().value(0);
        d->setDirectory(dir.path());
        d->selectFile("route.gpx");
        static_cast<QDialog *>(d)->accept();
    });
    EXPECT_EQ(panels.save("clip.gpx", "application/gpx+xml"), dir.filePath("route.gpx"));
    EXPECT_TRUE(proposed.endsWith("/clip.gpx")) << proposed.toStdString();

    whenShown<QFileDialog>([&](QFileDialog *d) {
        d->setDirectory(dir.path());
        d->selectFile("\"a.mp4\" \"b.mp4\"");
        static_cast<QDialog *>(d)->accept();
    });
    EXPECT_EQ(panels.openFiles({"video/mp4"}), (QStringList{dir.filePath("a.mp4"), dir.filePath("b.mp4")}));
}

TEST(DialogPanels, OffersNameFiltersBesideMimeTypes)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("blackbox.cfg"), "x");
    DialogPanels panels;
    const QString camera = "Camera settings (*.cfg *.CFG)";

    QStringList filters;
    whenShown<QFileDialog>([&](QFileDialog *d) {
        filters = d->nameFilters();
        d->setDirectory(dir.path());
        d->selectFile("blackbox.cfg");
        static_cast<QDialog *>(d)->accept();
    });
    // Tests see no MIME database, so the MIME type here is an unknown one: it is left out.
    EXPECT_EQ(panels.openFiles({camera, "no/such-type"}), QStringList{dir.filePath("blackbox.cfg")});
    EXPECT_EQ(filters, QStringList{camera});

    // A name typed without an extension gets the filter's. (In a folder without the proposed name: were the
    // proposal taken, the panel would ask about replacing it and the test would wait for ever.)
    ASSERT_TRUE(QDir(dir.path()).mkdir("Exports"));
    const QString exports = dir.filePath("Exports");
    QString suffix;
    whenShown<QFileDialog>([&](QFileDialog *d) {
        filters = d->nameFilters();
        suffix = d->defaultSuffix();
        d->setDirectory(exports);
        d->selectFile("profile");
        static_cast<QDialog *>(d)->accept();
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
        whenShown<QMessageBox>([&](QMessageBox *box) {
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
    whenShown<QMessageBox>([&](QMessageBox *box) {
        defaultText = box->defaultButton()->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(alerts.run(alert), 1);
    EXPECT_EQ(defaultText, "Cancel");
}

} // namespace
