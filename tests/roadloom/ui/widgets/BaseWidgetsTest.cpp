#include "roadloom/ui/widgets/BusyIndicator.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/ElidedLabel.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/SegmentedControl.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

TEST(SegmentedControlTest, OnlyTheUsersChoiceIsReportedAsActivated)
{
    SegmentedControl control({"km/h", "mph", "knots"});
    control.resize(control.sizeHint());
    control.setSegmentEnabled(2, false);
    QSignalSpy activated(&control, &SegmentedControl::activated);
    QSignalSpy changed(&control, &SegmentedControl::currentIndexChanged);
    EXPECT_EQ(control.currentIndex(), 0) << "the first segment is chosen at the start";

    control.setCurrentIndex(1);
    EXPECT_EQ(activated.count(), 0) << "a change from the model is not the user's";
    EXPECT_EQ(changed.count(), 1);

    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(0).center());
    ASSERT_EQ(activated.count(), 1);
    EXPECT_EQ(activated.last().at(0).toInt(), 0);
    EXPECT_EQ(control.currentIndex(), 0);

    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(2).center());
    EXPECT_EQ(activated.count(), 1) << "a disabled segment cannot be chosen";
    EXPECT_EQ(control.currentIndex(), 0);

    // A press on one segment released over another chooses nothing.
    QTest::mousePress(&control, Qt::LeftButton, {}, control.segmentRect(1).center());
    QTest::mouseRelease(&control, Qt::LeftButton, {}, control.segmentRect(0).center());
    EXPECT_EQ(activated.count(), 1);

    QTest::keyClick(&control, Qt::Key_Right);
    EXPECT_EQ(control.currentIndex(), 1);
    QTest::keyClick(&control, Qt::Key_Right);
    EXPECT_EQ(control.currentIndex(), 1) << "the arrow key skips the disabled last segment";
    EXPECT_EQ(activated.count(), 2);

    control.setCurrentIndex(7);
    EXPECT_EQ(control.currentIndex(), -1);
}

TEST(SegmentedControlTest, MiniSizeIsSmallerAndSegmentsShareTheWidth)
{
    SegmentedControl regular({"Standard", "Hybrid", "Satellite"});
    SegmentedControl mini({"Standard", "Hybrid", "Satellite"});
    mini.setControlSize(SegmentedControl::Size::mini);
    EXPECT_LT(mini.sizeHint().height(), regular.sizeHint().height());
    EXPECT_LT(mini.sizeHint().width(), regular.sizeHint().width());

    regular.resize(301, regular.sizeHint().height());
    int covered = 0;
    for (int i = 0; i < regular.count(); ++i) {
        EXPECT_NEAR(regular.segmentRect(i).width(), 99, 1);
        covered += regular.segmentRect(i).width();
        if (i > 0) {
            EXPECT_EQ(regular.segmentRect(i).left(), regular.segmentRect(i - 1).right() + 1) << "no gap";
        }
    }
    EXPECT_EQ(covered, 301 - 4);
}

TEST(ElidedLabelTest, ShortensAtTheChosenEndAndOffersTheWholeText)
{
    const QString path = QStringLiteral("/media/user/CARD/DCIM/Normal/Front/20240501_120000_NF.mp4");
    struct Case {
        Qt::TextElideMode mode;
        bool keepsStart;
        bool keepsEnd;
    };
    for (const Case &c : {Case{Qt::ElideLeft, false, true}, Case{Qt::ElideMiddle, true, true},
                          Case{Qt::ElideRight, true, false}}) {
        SCOPED_TRACE(int(c.mode));
        ElidedLabel label(path, c.mode);
        label.resize(140, label.sizeHint().height());
        const QString shown = label.displayedText();
        EXPECT_TRUE(label.isElided());
        EXPECT_TRUE(shown.contains(QChar(0x2026)));
        EXPECT_EQ(shown.startsWith(QStringLiteral("/media")), c.keepsStart) << shown.toStdString();
        EXPECT_EQ(shown.endsWith(QStringLiteral("NF.mp4")), c.keepsEnd) << shown.toStdString();
        EXPECT_LE(label.fontMetrics().horizontalAdvance(shown), 140);
    }
    ElidedLabel wide(QStringLiteral("two\nlines"));
    wide.resize(wide.sizeHint().width() + 40, wide.sizeHint().height());
    EXPECT_EQ(wide.displayedText(), QStringLiteral("two lines")) << "one line, always";
}

TEST(BusyIndicatorTest, TurnsOnlyWhileShown)
{
    QWidget window;
    auto *indicator = new BusyIndicator(BusyIndicator::Size::small, &window);
    EXPECT_EQ(indicator->sizeHint(), QSize(16, 16));
    EXPECT_FALSE(indicator->isAnimating());
    window.show();
    EXPECT_TRUE(indicator->isAnimating());
    indicator->hide();
    EXPECT_FALSE(indicator->isAnimating());
    indicator->show();
    window.hide();
    EXPECT_FALSE(indicator->isAnimating()) << "a hidden window's indicator rests";
    EXPECT_LT(BusyIndicator::extent(BusyIndicator::Size::small),
              BusyIndicator::extent(BusyIndicator::Size::regular));
    EXPECT_LT(BusyIndicator::extent(BusyIndicator::Size::regular),
              BusyIndicator::extent(BusyIndicator::Size::large));
}

TEST(ContentUnavailableTest, SearchPageAndButtons)
{
    ContentUnavailableWidget page(QStringLiteral("car.rear.and.tire.marks"), QStringLiteral("No Recordings"),
                                  QStringLiteral("Insert a card"));
    QPushButton *open = page.addButton(QStringLiteral("Open Folder…"));
    page.addButton(QStringLiteral("Refresh"));
    EXPECT_TRUE(open->isDefault());
    EXPECT_EQ(page.findChildren<QPushButton *>().size(), 2);

    page.showSearch(QStringLiteral("front"));
    EXPECT_EQ(page.symbol(), "magnifyingglass");
    EXPECT_EQ(page.title(), QStringLiteral("No Results for \u201Cfront\u201D"));
    EXPECT_EQ(page.description(), "Check the spelling or try a new search.");
    EXPECT_TRUE(page.findChildren<QPushButton *>().isEmpty()) << "a search page offers no buttons";

    // A long description wraps onto several lines and nothing of it is cut.
    page.setTitle(QStringLiteral("No Recordings"));
    page.setDescription(
        QStringLiteral("Insert your dashcam's microSD card, open a folder, or drop video files "
                       "here. Recordings appear as soon as they are found."));
    page.resize(640, 480);
    page.show();
    QCoreApplication::processEvents();
    for (QLabel *label : page.findChildren<QLabel *>()) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_LE(label->width(), 340);
    }
    QLabel *title = page.findChildren<QLabel *>().first();
    EXPECT_GE(title->width(), title->fontMetrics().horizontalAdvance(title->text()));

    // In a narrow card the texts wrap within the page instead of running past its edges.
    page.resize(240, 220);
    QCoreApplication::processEvents();

    for (QLabel *label : page.findChildren<QLabel *>()) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_LE(label->width(), 200);
    }

    // Texts are shown as written, never as markup.
    page.setTitle(QStringLiteral("<b>card</b>"));
    for (QLabel *label : page.findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST(ContentUnavailableTest, AShortPageGivesUpItsSymbolThenItsDescriptionAndNeverOverlapsItsTexts)
{
    ContentUnavailableWidget page(QStringLiteral("location.slash"), QStringLiteral("No GPS Data"),
                                  QStringLiteral("This recording has no position fixes."));
    const auto parts = [&] {
        QList<QWidget *> shown;
        for (QWidget *child : page.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (child->isVisible())
                shown.append(child);
        return shown;
    };
    QLabel *description = nullptr;
    for (QLabel *label : page.findChildren<QLabel *>())
        if (label->text().startsWith(QStringLiteral("This recording")))
            description = label;
    ASSERT_NE(description, nullptr);
    QWidget *symbol = page.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).first();

    page.resize(130, 320);
    page.show();
    bool symbolWentFirst = true;
    int lastWithAll = 0;
    for (int height = 320; height >= 70; height -= 10) {
        SCOPED_TRACE(height);
        page.resize(130, height);
        QCoreApplication::processEvents();
        const QList<QWidget *> shown = parts();
        if (shown.size() == 3)
            lastWithAll = height;
        if (symbol->isVisible() && !description->isVisible())
            symbolWentFirst = false;
        for (int i = 0; i < shown.size(); ++i) {
            EXPECT_TRUE(page.rect().contains(shown[i]->geometry())) << shown[i]->metaObject()->className();
            for (int j = i + 1; j < shown.size(); ++j)
                EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()));
        }
    }
    EXPECT_TRUE(symbolWentFirst);
    EXPECT_GE(lastWithAll, 150) << "a page with room shows every part";
    EXPECT_FALSE(description->isVisible()) << "the smallest page keeps only its title";

    page.resize(130, 320);
    QCoreApplication::processEvents();
    EXPECT_EQ(parts().size(), 3) << "room again gives every part back";
}

TEST(FormSectionTest, RowsKeepTheirLabelsAndControls)
{
    FormSection section(QStringLiteral("Playback"));
    auto *field = new QLineEdit;
    const int row = section.addRow(QStringLiteral("ffmpeg"), field);
    section.addRow(new QLabel(QStringLiteral("A note")));
    section.setFooter(QStringLiteral("Older models record AVI files."));
    EXPECT_EQ(section.rowCount(), 2);
    EXPECT_EQ(section.rowLabel(row)->text(), "ffmpeg");
    EXPECT_EQ(section.rowWidget(row), field);
    EXPECT_EQ(section.rowLabel(1), nullptr);
    EXPECT_EQ(section.rowLabel(5), nullptr);
    EXPECT_TRUE(section.isAncestorOf(field));

    section.resize(520, section.sizeHint().height());
    section.show();
    const QRect label = section.rowLabel(row)->geometry();
    const QRect value = field->geometry();
    EXPECT_LT(label.right(), value.left()) << "label leading, value trailing";
    section.setRowVisible(1, false);
    EXPECT_TRUE(section.rowWidget(1)->isHidden() || !section.rowWidget(1)->isVisible());
}
