#include "roadloom/model/AppModelHarness.h"

#include "roadloom/ui/library/ClipListModel.h"

#include <QListView>

using namespace AppHarness;

namespace {

// The clip list's model, counting how often the view asks for the number of rows.
class CountingRows : public ClipListModel {
public:
    using ClipListModel::ClipListModel;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        ++asked;
        return ClipListModel::rowCount(parent);
    }
    mutable int asked = 0;
};

class ClipListModelTest : public ModelTest {};

TEST_F(ClipListModelTest, IndexesAreThoseOfAListAndALayoutAsksTheCountNotPerRow)
{
    QList<DashClip> clips;
    for (int i = 0; i < 300; ++i)
        clips.append(recording(QStringLiteral("REC_%1").arg(i, 3, 10, QLatin1Char('0')),
                               QDateTime(QDate(2024, 5, 1 + i % 3), QTime(12, i % 60), Qt::UTC)));
    make(clips);
    CountingRows rows(model->library());
    const int count = rows.rowCount();
    ASSERT_EQ(count, 303); // a header a day
    const QModelIndex first = rows.index(0);
    const struct {
        int row, column;
        QModelIndex parent;
        bool valid;
    } cases[] = {
        {0, 0, {}, true},  {count - 1, 0, {}, true}, {count, 0, {}, false}, {-1, 0, {}, false},
        {0, 1, {}, false}, {0, -1, {}, false},       {0, 0, first, false},
    };
    for (const auto &c : cases) {
        const QModelIndex at = rows.index(c.row, c.column, c.parent);
        EXPECT_EQ(at.isValid(), c.valid) << c.row << "," << c.column;
        if (c.valid) {
            EXPECT_EQ(at.row(), c.row);
            EXPECT_EQ(at.model(), &rows);
            EXPECT_EQ(at, rows.QAbstractListModel::index(c.row, c.column, c.parent));
        }
    }

    // A long list is laid out on every keystroke: its indexes cost no question of the count each.
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&rows);
    view.resize(320, 400);
    rows.asked = 0;
    view.doItemsLayout();
    EXPECT_LT(rows.asked, 30);
    rows.asked = 0;
    model->library().setSearchText(QStringLiteral("rec_1"));
    view.doItemsLayout();
    EXPECT_EQ(rows.rowCount(), 103);
    EXPECT_LT(rows.asked, 30);
}

} // namespace
