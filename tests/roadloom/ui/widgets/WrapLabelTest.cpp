#include "roadloom/ui/widgets/WrapLabel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>

namespace {

const QString record = QStringLiteral("$GPRMC,100012,A,5231.2,N,01324.3,E,20.0,42.0,010524,,,A*6C");
const QString path = QStringLiteral("/media/user/CARDV/DCIM/EVENT/A very long folder name/2024/05/01/front");

TEST(WrapLabel, NeverNeedsMoreWidthThanItIsGivenAndGrowsInHeightInstead)
{
    struct Case {
        QString text;
        QTextOption::WrapMode mode;
    };
    const QList<Case> cases = {
        {record, QTextOption::WrapAtWordBoundaryOrAnywhere}, // one long word: broken anywhere
        {record, QTextOption::WrapAnywhere},
        {QStringLiteral("CAR 60 · G-sensor 1200 · GGA 600 · RMC 600"),
         QTextOption::WrapAtWordBoundaryOrAnywhere},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        WrapLabel label(c.text);
        label.setWrapMode(c.mode);
        const int oneLine = label.fontMetrics().height();
        EXPECT_LE(label.minimumSizeHint().width(), label.fontMetrics().averageCharWidth() * 6 + 1);
        EXPECT_LE(label.heightForWidth(2000), oneLine + 1);
        int previous = 0;
        for (int width : {400, 200, 100, 60}) {
            label.resize(width, label.heightForWidth(width));
            const int height = label.heightForWidth(width);
            EXPECT_GE(height, previous) << width;
            EXPECT_GE(label.lineCount() * oneLine, height - 2) << width;
            previous = height;
        }
        EXPECT_GT(previous, 2 * oneLine);
        EXPECT_EQ(label.displayedText(), c.text) << "without a line limit nothing is left out";
    }
}

// A line end starts a new line, at any width, and the natural width is the widest line's.
TEST(WrapLabel, ALineEndAlwaysStartsANewLine)
{
    const QString first = QStringLiteral("$GPRMC,100012,A,5231.2,N*6C");
    WrapLabel label(first + "\n$GPVTG,42.0,T\ngsensor,250,150,128");
    label.setWrapMode(QTextOption::WrapAnywhere);
    const int oneLine = label.fontMetrics().height();
    label.resize(2000, label.heightForWidth(2000));
    EXPECT_EQ(label.lineCount(), 3);
    EXPECT_NEAR(label.heightForWidth(2000), 3 * oneLine, 3);
    EXPECT_LE(label.sizeHint().width(), label.fontMetrics().horizontalAdvance(first) + 2);
    EXPECT_EQ(label.displayedText(), label.text());
}

TEST(WrapLabel, ALineLimitShortensTheMiddleAndKeepsBothEnds)
{
    WrapLabel label(path);
    label.setWrapMode(QTextOption::WrapAnywhere);
    label.setMaximumLines(2);
    for (int width : {500, 150, 90}) {
        label.resize(width, label.heightForWidth(width));
        EXPECT_LE(label.lineCount(), 2) << width;
        EXPECT_LE(label.heightForWidth(width), 2 * label.fontMetrics().height() + 2);
    }
    const QString shown = label.displayedText();
    ASSERT_NE(shown, path);
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/media/")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("front")));
    label.resize(2000, 30);
    EXPECT_EQ(label.displayedText(), path) << "wide enough again: the whole text";
}

TEST(WrapLabel, SelectableTextIsCopiedAsItIs)
{
    WrapLabel label(QStringLiteral("<img src=a> & more"));
    label.setSelectable(true);
    label.resize(300, label.heightForWidth(300));
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    QTest::mouseDClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.selectedText(), QStringLiteral("<img src=a> & more"));
    QTest::keyClick(&label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("<img src=a> & more"));

    // Dragging from the start selects the beginning.
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(1, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(label.fontMetrics().horizontalAdvance("<img") + 1, 5),
                     label.mapToGlobal(QPointF(0, 0)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &move);
    QTest::mouseRelease(&label, Qt::LeftButton);
    EXPECT_EQ(label.selectedText(), QStringLiteral("<img"));

    WrapLabel plain(QStringLiteral("not selectable"));
    plain.resize(200, 20);
    QTest::mouseDClick(&plain, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(plain.selectedText().isEmpty());
}

} // namespace
