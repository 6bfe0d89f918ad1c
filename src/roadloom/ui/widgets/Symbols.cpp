#include "roadloom/ui/widgets/Symbols.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <cmath>
#include <memory>

// The resource lives in the static views library; it must be registered by name before first use.
static void registerSymbolResource()
{
    Q_INIT_RESOURCE(symbols);
}

namespace {

const QString fallbackName = QStringLiteral("fallback");

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

// Parsed SVGs by name, made once each.
QSvgRenderer &renderer(const QString &name)
{
    static bool registered = (registerSymbolResource(), true);
    Q_UNUSED(registered);
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    auto it = renderers.find(name);
    if (it == renderers.end()) {
        const QString path =
            QFile::exists(resourcePath(name)) ? resourcePath(name) : resourcePath(fallbackName);
        it = renderers.insert(name, std::make_shared<QSvgRenderer>(path));
    }
    return **it;
}

QImage render(const QString &name, const QSize &pixels, const QColor &color)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer &svg = renderer(name);
    if (!svg.isValid())
        return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF natural = svg.defaultSize().isEmpty() ? QSizeF(16, 16) : QSizeF(svg.defaultSize());
    const QSizeF fitted = natural.scaled(QSizeF(pixels), Qt::KeepAspectRatio);
    const QRectF target(
        QPointF((pixels.width() - fitted.width()) / 2, (pixels.height() - fitted.height()) / 2), fitted);
    svg.render(&painter, target);
    // The drawing keeps its shape and takes the tint.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString name, QColor color) : m_name(std::move(name)), m_color(color) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, dpr));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        return Symbols::pixmap(m_name, size, colorFor(mode), scale);
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new SymbolIconEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("roadloom-symbol"); }
    QString iconName() override { return m_name; }

private:
    QColor colorFor(QIcon::Mode mode) const
    {
        const QPalette palette = QApplication::palette();
        QColor color = m_color.isValid() ? m_color : palette.color(QPalette::ButtonText);
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.35f);
        else if (mode == QIcon::Selected && !m_color.isValid())
            color = palette.color(QPalette::HighlightedText);
        return color;
    }

    QString m_name;
    QColor m_color;
};

} // namespace

QIcon Symbols::icon(const QString &name, const QColor &color)
{
    return QIcon(new SymbolIconEngine(name, color));
}

QPixmap Symbols::pixmap(const QString &name, const QSize &size, const QColor &color, qreal dpr)
{
    if (size.isEmpty())
        return QPixmap();
    dpr = std::isfinite(dpr) && dpr > 0 ? dpr : 1.0;
    const QSize pixels(std::max(1, int(std::lround(size.width() * dpr))),
                       std::max(1, int(std::lround(size.height() * dpr))));
    const QString key = QStringLiteral("roadloom-symbol:%1:%2x%3:%4:%5")
                            .arg(name)
                            .arg(pixels.width())
                            .arg(pixels.height())
                            .arg(color.rgba(), 8, 16, QLatin1Char('0'))
                            .arg(dpr);
    QPixmap cached;
    if (!QPixmapCache::find(key, &cached)) {
        cached = QPixmap::fromImage(render(name, pixels, color));
        cached.setDevicePixelRatio(dpr);
        QPixmapCache::insert(key, cached);
    }
    return cached;
}

QPixmap Symbols::pixmap(const QString &name, int extent, const QColor &color, qreal dpr)
{
    return pixmap(name, QSize(extent, extent), color, dpr);
}

bool Symbols::has(const QString &name)
{
    renderer(fallbackName);
    return name != fallbackName && QFile::exists(resourcePath(name));
}

QStringList Symbols::names()
{
    renderer(fallbackName);
    QStringList list;
    for (const QString &file : QDir(QStringLiteral(":/symbols")).entryList(QDir::Files, QDir::Name)) {
        const QString name = file.chopped(4);
        if (name != fallbackName)
            list.append(name);
    }
    return list;
}
