#include "platform/gui/ImagePrinter.h"

#include "fixtures/PdfImagePrinter.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

TEST(ImagePrinter, FitsTheImageToThePageCentredAcrossAndAtTheTop)
{
    struct Case {
        QSize image;
        QRect page;
        QRectF expected;
    };
    const Case cases[] = {
        {{1520, 2000}, {0, 0, 760, 1000}, {0, 0, 760, 1000}},   // same shape, scaled down
        {{100, 50}, {10, 20, 400, 600}, {10, 20, 400, 200}},    // wide image: full width, top
        {{1520, 4000}, {0, 0, 760, 1000}, {190, 0, 380, 1000}}, // tall image: centred across
        {{200, 100}, {0, 0, 1000, 1000}, {0, 0, 1000, 500}},    // small image: scaled up
        {{0, 0}, {0, 0, 100, 100}, {}},                         // nothing to place
    };
    for (const auto &c : cases)
        EXPECT_EQ(ImagePrinter::placement(c.image, c.page), c.expected)
            << c.image.width() << "x" << c.image.height();
}

TEST(ImagePrinter, PrintsOnePageToAPdf)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("frame.pdf");
    PdfImagePrinter printer(path);
    QImage image(1520, 2400, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    ASSERT_TRUE(printer.print(image, "20250101_120000_F"));
    const QByteArray pdf = TestSupport::readFile(path);
    ASSERT_TRUE(pdf.startsWith("%PDF-"));
    const auto pages = QRegularExpression(R"(/Type\s*/Page[^s])").globalMatch(QString::fromLatin1(pdf));
    int count = 0;
    for (auto it = pages; it.hasNext(); it.next())
        ++count;
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(pdf.contains("/Image")) << "the frame is drawn as an image";

    EXPECT_FALSE(printer.print(QImage(), "empty")) << "a null image prints nothing";
}

} // namespace
