#include "roadloom/ui/ShellHarness.h"
#include "roadloom/model/ScriptedExporter.h"

#include "fixtures/Screenshot.h"
#include "roadloom/ui/export/ExportClipSheet.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

class ExportClipSheetScreenshotTest : public ShellTest {
protected:
    ScriptedExporter exporter;
    std::unique_ptr<ExportClipSheet> sheet;

    void SetUp() override
    {
        ROADLOOM_REQUIRE_SCREENSHOTS();
        adjust = [this](AppModel::Services &s) { s.exportMovie = exporter.make(); };
        QDir().mkpath(dir.filePath("out"));
        panels.folderAnswer = dir.filePath("out");
    }
    void TearDown() override
    {
        sheet.reset();
        ShellTest::TearDown();
    }
    QSize sheetSize() const
    {
        return QSize(ExportClipSheet::sheetWidth, sheet->heightForWidth(ExportClipSheet::sheetWidth) > 0
                                                      ? sheet->heightForWidth(ExportClipSheet::sheetWidth)
                                                      : sheet->sizeHint().height());
    }
    // The part of the image a child widget covers.
    QRect area(QWidget *child) const { return QRect(child->mapTo(sheet.get(), QPoint(0, 0)), child->size()); }
};

TEST_F(ExportClipSheetScreenshotTest, ProgressAndFailureAreDrawnInBothAppearances)
{
    for (const auto appearance : {Screenshot::Appearance::light, Screenshot::Appearance::dark}) {
        const QString suffix = appearance == Screenshot::Appearance::light ? "light" : "dark";
        SCOPED_TRACE(suffix.toStdString());
        Screenshot::prepare(appearance);
        const QPalette palette = Screenshot::palette(appearance);
        model.reset();
        const DashClip clip = recording(
            "CONT_0001", at(1), {{Channel::front, "/card/C_F.mp4"}, {Channel::rear, "/card/C_R.mp4"}});
        make({clip});
        load(clip);
        model->player().setCurrentTime(30);
        sheet = std::make_unique<ExportClipSheet>(*model);
        exporter.gated = true;
        exporter.failing = {"/card/C_R.mp4"};

        sheet->show(); // the sheet fits its height to its content when first shown
        QCoreApplication::processEvents();
        const QImage idle = Screenshot::capture(sheet.get(), sheetSize(), "export-sheet-idle-" + suffix);
        // The peak shortcut stays legible when there is no peak to go to.
        ASSERT_FALSE(sheet->peakButton()->isEnabled());
        const int background = palette.color(QPalette::Window).lightness();
        EXPECT_GT(
            Screenshot::count(idle, area(sheet->peakButton()),
                              [&](const QColor &c) { return std::abs(c.lightness() - background) > 50; }),
            20);

        QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return sheet->progressBar()->value() == 250; }));
        const QImage busy = Screenshot::capture(sheet.get(), sheetSize(), "export-sheet-busy-" + suffix);
        const QRect bar = area(sheet->progressBar());
        const QColor highlight = palette.color(QPalette::Highlight);
        // A quarter of the bar is filled: its left part, not its right.
        EXPECT_GT(Screenshot::count(busy, bar.adjusted(4, 4, -bar.width() * 3 / 4 - 4, -4), highlight, 40),
                  20);
        EXPECT_EQ(Screenshot::count(busy, bar.adjusted(bar.width() / 2, 4, -4, -4), highlight, 40), 0);

        exporter.gate.release(2);
        ASSERT_TRUE(waitFor([&] { return sheet->error().has_value(); }, 10000));
        const QImage failed = Screenshot::capture(sheet.get(), sheetSize(), "export-sheet-failed-" + suffix);
        const QColor red = Palette::red(palette);
        EXPECT_GT(Screenshot::count(failed, area(sheet->errorLabel()), red, 40), 20);
        EXPECT_EQ(Screenshot::count(failed, area(sheet->lengthLabel()), red, 40), 0);
        sheet.reset();
    }
}

} // namespace
