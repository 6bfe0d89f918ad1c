#include "roadloom/ui/inspector/InspectorHarness.h"

#include "roadcore/TelemetryExporter.h"
#include "roadloom/ui/inspector/DataLogModel.h"
#include "roadloom/ui/inspector/DataLogSheet.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

using namespace AppHarness;
using namespace InspectorHarness;
using TestSupport::waitFor;

namespace {

// 100,000 records of 20 to 80 characters, one every 10 ms from 0.5 s; every 1000th holds "Needle".
Telemetry bigLog()
{
    Telemetry t;
    t.source = QStringLiteral("MP4 text track");
    t.records.reserve(100'000);
    for (int i = 0; i < 100'000; ++i) {
        QString text = QStringLiteral("$GPRMC,%1,A,5230.1,N,01330.2,E").arg(i);
        if (i % 1000 == 7)
            text += QStringLiteral(",Needle");
        text += QString(i % 41, QLatin1Char('x'));
        t.records.append({0.5 + i * 0.01, text.left(80)});
    }
    t.gps = {{}};
    return t;
}

class DataLogSheetTest : public InspectorTest {
protected:
    DataLogSheet *sheet = nullptr;
    DashClip clip = recording("REC_A", at(1));

    void open(const Telemetry &telemetry)
    {
        makeInspector({clip});
        loadWith(clip, telemetry);
        inspector->show();
        QTest::mouseClick(inspector->findChild<QPushButton *>("openDataLog"), Qt::LeftButton);
        sheet = inspector->dataLog();
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    }
    void selectRow(int row)
    {
        QTableView *table = sheet->table();
        const QRect cell = table->visualRect(table->model()->index(row, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    }
    double time() const { return model->player().currentTime(); }
};

TEST_F(DataLogSheetTest, FilteringIgnoresCaseAndCountsEveryRecord)
{
    open(bigLog());
    EXPECT_EQ(sheet->size(), DataLogSheet::fixedSize);
    EXPECT_EQ(sheet->countLabel()->text(), "100000 records \u00B7 MP4 text track");
    EXPECT_EQ(sheet->table()->model()->rowCount(), 100'000);
    EXPECT_EQ(sheet->table()->horizontalHeader()->sectionSize(0), 80);
    EXPECT_FALSE(sheet->table()->verticalHeader()->isVisible());

    const QList<std::pair<QString, int>> filters = {
        {"needle", 100}, {"NEEDLE", 100}, {"nEEdle,", 0}, {"", 100'000}, {"$gprmc,99999,", 1}, {"no such", 0},
    };
    for (const auto &[text, rows] : filters) {
        sheet->filterField()->setText(text);
        EXPECT_EQ(sheet->table()->model()->rowCount(), rows) << text.toStdString();
        EXPECT_EQ(sheet->countLabel()->text(), "100000 records \u00B7 MP4 text track");
    }
    // Typing on narrows what is shown, deleting widens it again.
    sheet->filterField()->clear();
    QTest::keyClicks(sheet->filterField(), "needl");
    EXPECT_EQ(sheet->table()->model()->rowCount(), 100);
    QTest::keyClick(sheet->filterField(), Qt::Key_Backspace);
    QTest::keyClick(sheet->filterField(), Qt::Key_Backspace);
    EXPECT_EQ(sheet->table()->model()->rowCount(), 100);
    sheet->filterField()->setText("1,A");
    const int wide = sheet->table()->model()->rowCount();
    QTest::keyClicks(sheet->filterField(), ",52");
    EXPECT_EQ(sheet->table()->model()->rowCount(), wide);
    EXPECT_EQ(time(), 0) << "filtering never seeks";
}

TEST_F(DataLogSheetTest, SelectingSeeksToTheRecordsOwnTimeAgainAfterClearing)
{
    open(bigLog());
    sheet->filterField()->setText("needle");
    selectRow(0); // record 7
    EXPECT_NEAR(time(), 0.57, 1e-9);
    selectRow(2); // record 2007
    EXPECT_NEAR(time(), 20.57, 1e-9);

    model->player().seek(3);
    sheet->table()->clearSelection();
    EXPECT_EQ(time(), 3) << "clearing moves nothing";
    selectRow(2);
    EXPECT_NEAR(time(), 20.57, 1e-9) << "the same record again seeks again";

    // The selection keeps its record through a filter change, without a seek.
    model->player().seek(1);
    sheet->filterField()->setText("Needle,");
    sheet->filterField()->setText("needle");
    EXPECT_EQ(sheet->selectedID(), 2007);
    EXPECT_EQ(sheet->table()->selectionModel()->selectedRows().value(0).row(), 2);
    EXPECT_EQ(time(), 1);

    // Ctrl+C copies the record.
    sheet->table()->setFocus();
    QTest::keyClick(sheet->table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), bigLog().records[2007].text);
}

// Rows are as tall as the fixed-pitch font of their cells, even when the application's font is smaller.
TEST_F(DataLogSheetTest, RowsFitTheCellsFixedFont)
{
    const QFont saved = QApplication::font();
    QFont tiny = saved;
    tiny.setPixelSize(6);
    QApplication::setFont(tiny);
    Telemetry t;
    t.records = {{1, QStringLiteral("$GPRMC,1")}, {2, QStringLiteral("$GPRMC,2")}};
    open(t);
    auto *log = qobject_cast<DataLogModel *>(sheet->table()->model());
    ASSERT_NE(log, nullptr);
    const int cellHeight = QFontMetrics(log->cellFont()).height();
    ASSERT_GT(cellHeight, QFontMetrics(tiny).height()) << "the test needs a fixed font taller than the UI's";
    EXPECT_EQ(log->data(log->index(0, DataLogModel::recordColumn), Qt::FontRole).value<QFont>(),
              log->cellFont());
    for (int row = 0; row < 2; ++row)
        EXPECT_GE(sheet->table()->rowHeight(row), cellHeight + 2) << row;
    sheet->close();
    QApplication::setFont(saved);
}

// Each sentence of a record on its own line, every row as tall as its lines: a filter for the second
// sentence of a record shows that sentence.
TEST_F(DataLogSheetTest, RecordsOfSeveralSentencesShowEveryLineInRowsThatFitThem)
{
    Telemetry t;
    t.source = QStringLiteral("MP4 text track");
    // More records than one slice of the line counting.
    constexpr int count = 20'000;
    for (int i = 0; i < count; ++i) {
        QString text = QStringLiteral("$GPRMC,%1,A,4807.0380,N,01131.0000,E,20.0,84.4,030125,,,A*63").arg(i);
        if (i % 4 == 1)
            text += QStringLiteral("\r\n$GPVTG,84.4,T,,M,20.0,N,37.0,K,A*0A");
        if (i % 4 == 2)
            text += QStringLiteral("\r\n$GPGGA,%1,4807.0380,N\r\ngsensor,250,150,128").arg(i);
        t.records.append({i * 1.0, text});
    }
    open(t);
    QTableView *table = sheet->table();
    auto *log = qobject_cast<DataLogModel *>(table->model());
    const QFontMetrics metrics(log->cellFont());
    const auto lines = [&](int row) {
        return table->model()->index(row, DataLogModel::recordColumn).data().toString().split(u'\n');
    };
    auto checkHeights = [&] {
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            const int count = int(lines(row).size());
            EXPECT_EQ(log->lineCount(row), count) << row;
            EXPECT_GE(table->rowHeight(row), metrics.height() + (count - 1) * metrics.lineSpacing()) << row;
            EXPECT_LE(table->rowHeight(row), metrics.height() + (count - 1) * metrics.lineSpacing() + 8)
                << row;
        }
    };
    EXPECT_EQ(lines(2), QStringList({"$GPRMC,2,A,4807.0380,N,01131.0000,E,20.0,84.4,030125,,,A*63",
                                     "$GPGGA,2,4807.0380,N", "gsensor,250,150,128"}));
    checkHeights();

    sheet->filterField()->setText("gpvtg");
    ASSERT_EQ(table->model()->rowCount(), count / 4);
    checkHeights();
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(lines(row).value(1), "$GPVTG,84.4,T,,M,20.0,N,37.0,K,A*0A") << row;

    // On screen: the second line of the first row has text in it, and the next row starts below it.
    QCoreApplication::processEvents();
    const QImage image = table->viewport()->grab().toImage();
    const QRect first = table->visualRect(table->model()->index(0, DataLogModel::recordColumn));
    ASSERT_GE(first.height(), 2 * metrics.height());
    const QRect secondLine(first.left() + 4, first.center().y() + 2, 200, metrics.height() / 2);
    int ink = 0;
    for (int y = secondLine.top(); y <= secondLine.bottom(); ++y)
        for (int x = secondLine.left(); x <= secondLine.right(); ++x)
            ink += image.pixelColor(x, y).lightness() < 110 ? 1 : 0;
    EXPECT_GT(ink, 20) << "the GPVTG sentence is drawn in the row";

    sheet->filterField()->setText("");
    EXPECT_EQ(table->model()->rowCount(), count);
    checkHeights();
}

TEST_F(DataLogSheetTest, NewTelemetryRebuildsTheRowsAndKeepsTheSelectionWithoutSeeking)
{
    Telemetry small;
    small.source = "AVI text chunks";
    for (int i = 0; i < 10; ++i)
        small.records.append({double(i), QStringLiteral("rec %1").arg(i)});
    open(small);
    selectRow(4);
    EXPECT_EQ(time(), 4);
    model->player().seek(2);

    const DashClip other = recording("REC_B", at(2));
    Telemetry next;
    next.source = "LP1 trailer";
    for (int i = 0; i < 6; ++i)
        next.records.append({10.0 + i, QStringLiteral("new %1").arg(i)});
    services->telemetry[other.files.begin()->second] = next;
    load(other);
    ASSERT_TRUE(waitFor([&] { return sheet->countLabel()->text() == "6 records \u00B7 LP1 trailer"; }));
    EXPECT_EQ(sheet->table()->model()->rowCount(), 6);
    EXPECT_EQ(sheet->table()->selectionModel()->selectedRows().value(0).row(), 4);
    EXPECT_NE(time(), 14) << "a new telemetry never seeks";
}

TEST_F(DataLogSheetTest, ExportWritesTheRawLogAndReturnOrEscapeClose)
{
    Telemetry t = bigLog();
    t.records = t.records.mid(0, 50);
    open(t);
    const QString target = dir.filePath("log.txt");
    panels.saveAnswer = target;
    QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return QFile::exists(target); }));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), TelemetryExporter::rawLog(t, clip.name));
    EXPECT_TRUE(panels.calls.value(0).startsWith("save REC_A.txt"));

    QTest::keyClick(sheet->filterField(), Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return inspector->dataLog() == nullptr; }))
        << "Return in the filter field is Done";

    QTest::mouseClick(inspector->findChild<QPushButton *>("openDataLog"), Qt::LeftButton);
    sheet = inspector->dataLog();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->filterField()->text().isEmpty()) << "made afresh";
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return inspector->dataLog() == nullptr; }));
}

TEST(DataLogModelTest, RowsKeepTheirRecordIdsThroughFilters)
{
    DataLogModel log;
    log.setRecords({{0.25, "AbC"}, {1.5, "xyz"}, {2, "abcd"}, {3, "ABX"}});
    EXPECT_EQ(log.data(log.index(1, 0)).toString(), "1.500 s");
    const QList<std::pair<QString, QList<int>>> cases = {
        {"ab", {0, 2, 3}}, {"abc", {0, 2}}, {"abcd", {2}}, {"b", {0, 2, 3}}, {"", {0, 1, 2, 3}}, {"q", {}},
    };
    for (const auto &[filter, ids] : cases) {
        log.setFilter(filter);
        QList<int> shown;
        for (int row = 0; row < log.rowCount(); ++row)
            shown.append(log.idAt(row));
        EXPECT_EQ(shown, ids) << filter.toStdString();
        for (int id : ids)
            EXPECT_EQ(log.idAt(log.rowOf(id)), id);
    }
    EXPECT_EQ(log.rowOf(1), -1);
}

} // namespace
