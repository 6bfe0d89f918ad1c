// "Open Files…" on the real file dialog: the filter it starts with lets every video the library reads
// through, whatever the case of its name; the single types follow.
#include "fixtures/ModalDialogs.h"
#include "fixtures/TestSupport.h"
#include "platform/gui/DialogPanels.h"
#include "roadloom/ui/shell/AppActions.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTemporaryDir>

TEST(OpenFilesPanel, StartsWithAFilterShowingEveryVideoType)
{
    QTemporaryDir dir;
    const QStringList videos = {"a.mp4", "b.MP4", "c.mov", "d.MOV", "e.avi", "f.AVI", "g.m4v", "h.Mp4"};
    const QStringList others = {"notes.txt", "SETTING.cfg", "clip.mkv"};
    for (const QString &name : videos + others)
        TestSupport::writeFile(dir.filePath(name), "x");

    struct Seen {
        QString filter;
        QStringList patterns; // what the dialog's file list filters by
    };
    QList<Seen> seen; // the filter the dialog starts with, then each of the others chosen
    QStringList filters;
    const auto looking = ModalDialogs::whenShown<QFileDialog>([&](QFileDialog *dialog) {
        dialog->setDirectory(dir.path());
        filters = dialog->nameFilters();
        auto *files = dialog->findChild<QFileSystemModel *>();
        ASSERT_NE(files, nullptr);
        seen.append({dialog->selectedNameFilter(), files->nameFilters()});
        for (const QString &filter : filters.mid(1)) {
            dialog->selectNameFilter(filter);
            seen.append({dialog->selectedNameFilter(), files->nameFilters()});
        }
        dialog->reject();
    });
    DialogPanels panels;
    EXPECT_TRUE(panels.openFiles(AppActions::movieTypes).isEmpty());

    ASSERT_EQ(filters.size(), 4);
    EXPECT_EQ(filters.first(), "Videos (*.avi *.m4v *.mov *.mp4 *.AVI *.M4V *.MOV *.MP4)");
    const QStringList entries = QDir(dir.path()).entryList(QDir::Files);
    // Each filter as the dialog's list applies it: the patterns of the chosen filter, without regard to case.
    const auto shown = [&](const Seen &s) {
        QStringList names;
        for (const QString &name : entries)
            if (QDir::match(s.patterns, name))
                names.append(name);
        names.sort();
        return names;
    };
    const QList<QStringList> expected = {
        videos, {"a.mp4", "b.MP4", "g.m4v", "h.Mp4"}, {"c.mov", "d.MOV"}, {"e.avi", "f.AVI"}};
    ASSERT_EQ(seen.size(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(filters.at(i).toStdString());
        EXPECT_EQ(seen[i].filter, filters.at(i)) << (i == 0 ? "the dialog starts on every video" : "");
        EXPECT_EQ(shown(seen[i]), expected[i]);
    }
}
