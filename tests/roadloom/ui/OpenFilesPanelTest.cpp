// "Open Files…" on the real file dialog: the filter it starts with shows every video the library reads,
// whatever the case of its name.
#include "fixtures/ModalDialogs.h"
#include "fixtures/TestSupport.h"
#include "platform/gui/DialogPanels.h"
#include "roadloom/ui/AppActions.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The names the dialog lists in its folder now.
QStringList listed(QFileDialog *dialog)
{
    auto *view = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
    if (!view || !view->model())
        return {};
    QStringList names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
        names.append(view->model()->index(row, 0, root).data().toString());
    names.sort();
    return names;
}

} // namespace

TEST(OpenFilesPanel, StartsWithAFilterShowingEveryVideoType)
{
    QTemporaryDir dir;
    const QStringList videos = {"a.mp4", "b.MP4", "c.mov", "d.MOV", "e.avi", "f.AVI", "g.m4v", "h.Mp4"};
    for (const QString &name : videos + QStringList{"notes.txt", "SETTING.cfg"})
        TestSupport::writeFile(dir.filePath(name), "x");

    QStringList filters, firstListed, movListed;
    QString selected;
    const auto looking = ModalDialogs::whenShown<QFileDialog>([&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        selected = dialog->selectedNameFilter();
        dialog->setDirectory(dir.path());
        auto *files = dialog->findChild<QFileSystemModel *>();
        EXPECT_TRUE(QTest::qWaitFor([&] {
            if (files && files->canFetchMore(files->index(dir.path()))) files->fetchMore(files->index(dir.path()));
            return listed(dialog).size() >= videos.size(); }, 20000));
        firstListed = listed(dialog);
        // A single type still narrows the list.
        for (const QString &filter : std::as_const(filters))
            if (filter.contains(QStringLiteral("*.mov")) && filter != filters.first())
                dialog->selectNameFilter(filter);
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed(dialog).size() < videos.size(); }, 2000));
        movListed = listed(dialog);
        EXPECT_NE(files, nullptr);
        dialog->reject();
    });
    DialogPanels panels;
    EXPECT_TRUE(panels.openFiles(AppActions::movieTypes).isEmpty());

    ASSERT_EQ(filters.size(), 4);
    EXPECT_EQ(filters.first(), "Videos (*.avi *.m4v *.mov *.mp4 *.AVI *.M4V *.MOV *.MP4)");
    EXPECT_EQ(selected, filters.first());
    EXPECT_EQ(firstListed, videos);
    EXPECT_EQ(movListed, (QStringList{"c.mov", "d.MOV"}));
}
