#include "roadloom/ui/widgets/Symbols.h"

#include "fixtures/TestSupport.h"
#include "roadcore/ClipCategory.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <QSet>

namespace {

// Symbol names written in the program's sources: dotted lower-case literals that are not file names or
// logging categories, and any lower-case literal on a line that speaks of a symbol.
QSet<QString> symbolLiteralsInSources()
{
    static const QRegularExpression dotted(QStringLiteral("\"([a-z][a-z0-9]*(?:\\.[a-z0-9]+)+)\""));
    static const QRegularExpression word(QStringLiteral("\"([a-z][a-z0-9]*(?:\\.[a-z0-9]+)*)\""));
    static const QRegularExpression symbolLine(QStringLiteral("symbol|Symbol|systemImage"));
    static const QSet<QString> fileExtensions{"json", "cfg", "mp4", "mov", "avi",  "png",    "svg",
                                              "txt",  "gpx", "kml", "csv", "srt",  "ini",    "desktop",
                                              "jpg",  "mkv", "xml", "log", "nmea", "bin",    "dat",
                                              "in",   "sh",  "qrc", "h",   "cpp",  "journal"};
    QSet<QString> names;
    QDirIterator files(TestSupport::sourcePath(QStringLiteral("src")), {"*.cpp", "*.h"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.trimmed().startsWith(QLatin1String("//")) || line.contains(QLatin1String("#include")))
                continue;
            for (const auto &match : dotted.globalMatch(line)) {
                const QString name = match.captured(1);
                if (!fileExtensions.contains(name.section(QLatin1Char('.'), -1)) &&
                    !name.startsWith(QLatin1String("roadloom.")))
                    names.insert(name);
            }
            if (symbolLine.match(line).hasMatch()) {
                for (const auto &match : word.globalMatch(line))
                    names.insert(match.captured(1));
            }
        }
    }
    names.remove(QStringLiteral("fallback"));
    names.remove(QStringLiteral("symbol")); // the dynamic property that carries a control's symbol name
    return names;
}

// Share of the drawn (mostly opaque) pixels whose colour is the tint; and how many were drawn.
struct Ink {
    int drawn = 0;
    int tinted = 0;
};

Ink inkOf(const QPixmap &pixmap, const QColor &tint)
{
    Ink ink;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() < 128)
                continue;
            ++ink.drawn;
            if (std::abs(c.red() - tint.red()) <= 3 && std::abs(c.green() - tint.green()) <= 3 &&
                std::abs(c.blue() - tint.blue()) <= 3)
                ++ink.tinted;
        }
    }
    return ink;
}

} // namespace

TEST(SymbolsTest, EveryNameTheProgramUsesHasItsOwnTintedImage)
{
    QSet<QString> used = symbolLiteralsInSources();
    for (ClipCategory category : allClipCategories)
        used.insert(symbol(category));
    used.insert(QStringLiteral("magnifyingglass"));
    ASSERT_GT(used.size(), 10) << "the scan of the sources found too little";

    const QColor tint(0xc8, 0x1e, 0x5a);
    const QPixmap fallback = Symbols::pixmap(QStringLiteral("no.such.symbol"), 24, tint);
    for (const QString &name : used) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(Symbols::has(name)) << "add it to src/roadloom/ui/widgets/symbols.txt";
        const Ink ink = inkOf(Symbols::pixmap(name, 32, tint), tint);
        EXPECT_GT(ink.drawn, 10) << "the image is (nearly) empty";
        EXPECT_EQ(ink.tinted, ink.drawn) << "opaque pixels in another colour than the tint";
    }
    // Every mapped file draws, not only those used today.
    for (const QString &name : Symbols::names()) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_GT(inkOf(Symbols::pixmap(name, 32, tint), tint).drawn, 10);
    }
    EXPECT_GT(inkOf(fallback, tint).drawn, 10) << "an unknown name still shows a symbol";
    EXPECT_FALSE(Symbols::has(QStringLiteral("no.such.symbol")));
}

TEST(SymbolsTest, ImagesAreMadeOnceForEachSizeColourAndScreen)
{
    const QString name = QStringLiteral("play.fill");
    const QPixmap first = Symbols::pixmap(name, 20, Qt::red);
    EXPECT_EQ(Symbols::pixmap(name, 20, Qt::red).cacheKey(), first.cacheKey())
        << "a second paint draws again";
    EXPECT_NE(Symbols::pixmap(name, 20, Qt::blue).cacheKey(), first.cacheKey());

    const QPixmap sharp = Symbols::pixmap(name, QSize(20, 20), Qt::red, 2.0);
    EXPECT_EQ(sharp.size(), QSize(40, 40)) << "device pixels for a screen of scale 2";
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    EXPECT_TRUE(Symbols::pixmap(name, QSize(0, 20), Qt::red).isNull());
    EXPECT_EQ(Symbols::pixmap(name, QSize(20, 20), Qt::red, std::nan("")).size(), QSize(20, 20));
}

TEST(SymbolsTest, IconsFadeWhenDisabledAndFollowThePaletteWithoutAColour)
{
    const QColor tint(0x10, 0x80, 0x40);
    const QIcon icon = Symbols::icon(QStringLiteral("trash"), tint);
    const QImage normal = icon.pixmap(QSize(24, 24), 1.0, QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(24, 24), 1.0, QIcon::Disabled).toImage();
    int strongestNormal = 0, strongestDisabled = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            strongestNormal = std::max(strongestNormal, qAlpha(normal.pixel(x, y)));
            strongestDisabled = std::max(strongestDisabled, qAlpha(disabled.pixel(x, y)));
        }
    }
    EXPECT_EQ(strongestNormal, 255);
    EXPECT_LT(strongestDisabled, 128);

    // Without a colour the palette's button text colour, read when drawn.
    QPalette palette = QApplication::palette();
    const QPalette saved = palette;
    palette.setColor(QPalette::ButtonText, QColor(0x33, 0x66, 0x99));
    QApplication::setPalette(palette);
    const QIcon plain = Symbols::icon(QStringLiteral("trash"));
    const Ink ink = inkOf(plain.pixmap(QSize(24, 24)), QColor(0x33, 0x66, 0x99));
    QApplication::setPalette(saved);
    EXPECT_GT(ink.drawn, 10);
    EXPECT_EQ(ink.tinted, ink.drawn);
}
