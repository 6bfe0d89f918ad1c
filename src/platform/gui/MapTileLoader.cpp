#include "platform/gui/MapTileLoader.h"

#include "platform/StandardFolders.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtConcurrent>

Q_LOGGING_CATEGORY(mapLog, "roadloom.map")

namespace {
QPointer<QNetworkAccessManager> &replacedNetwork()
{
    static QPointer<QNetworkAccessManager> network;
    return network;
}
} // namespace

MapTileLoader::MapTileLoader(QObject *parent) : QObject(parent), m_network(standardNetwork())
{
    m_images.setMaxCost(memoryCacheKilobytes);
    m_decodePool.setMaxThreadCount(1);
    m_restTimer.setSingleShot(true);
    connect(&m_restTimer, &QTimer::timeout, this, &MapTileLoader::pump);
}

MapTileLoader::~MapTileLoader()
{
    const auto replies = m_replies;
    m_replies.clear();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_decodePool.waitForDone();
}

QNetworkAccessManager *MapTileLoader::standardNetwork()
{
    if (replacedNetwork())
        return replacedNetwork();
    static QPointer<QNetworkAccessManager> network;
    if (!network) {
        network = new QNetworkAccessManager(QCoreApplication::instance());
        auto *cache = new QNetworkDiskCache(network);
        cache->setCacheDirectory(StandardFolders::mapTiles());
        cache->setMaximumCacheSize(diskCacheBytes);
        network->setCache(cache);
    }
    return network;
}

void MapTileLoader::setStandardNetwork(QNetworkAccessManager *network)
{
    replacedNetwork() = network;
}

QString MapTileLoader::userAgent()
{
    return QStringLiteral("Roadloom/%1 (Linux)").arg(QStringLiteral(ROADLOOM_VERSION));
}

bool MapTileLoader::isUsableTemplate(const QString &urlTemplate)
{
    const QUrl url(urlTemplate);
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty() &&
           urlTemplate.contains(QLatin1String("{z}")) && urlTemplate.contains(QLatin1String("{x}")) &&
           urlTemplate.contains(QLatin1String("{y}"));
}

QString MapTileLoader::tileURL(const QString &urlTemplate, int z, int x, int y)
{
    const qint64 count = qint64(1) << std::clamp(z, 0, 30);
    const qint64 wrapped = ((x % count) + count) % count;
    QString url = urlTemplate;
    url.replace(QLatin1String("{z}"), QString::number(z));
    url.replace(QLatin1String("{x}"), QString::number(wrapped));
    url.replace(QLatin1String("{y}"), QString::number(y));
    return url;
}

void MapTileLoader::want(const QStringList &urls)
{
    m_wanted = urls;
    m_wantedSet = QSet<QString>(urls.begin(), urls.end());
    // A tile that left the view gives its place to one in it.
    for (auto it = m_replies.begin(); it != m_replies.end();) {
        if (m_wantedSet.contains(it.key())) {
            ++it;
            continue;
        }
        QNetworkReply *reply = it.value();
        it = m_replies.erase(it);
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    pump();
}

const QImage *MapTileLoader::tile(const QString &url) const
{
    return m_images.object(url);
}

void MapTileLoader::pump()
{
    if (!m_network)
        return;
    std::optional<qint64> nextRest;
    for (const QString &url : std::as_const(m_wanted)) {
        if (m_replies.size() >= maxInFlight)
            break;
        if (m_images.contains(url) || m_replies.contains(url) || m_decoding.contains(url))
            continue;
        if (auto rest = m_resting.constFind(url); rest != m_resting.cend()) {
            if (!rest->hasExpired()) {
                const qint64 left = rest->remainingTime();
                nextRest = nextRest ? std::min(*nextRest, left) : left;
                continue;
            }
            m_resting.erase(rest);
        }
        start(url, 0);
    }
    if (nextRest && !m_restTimer.isActive())
        m_restTimer.start(int(std::min<qint64>(*nextRest + 1, m_rest.count())));
}

void MapTileLoader::start(const QString &url, int attempt)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         attempt == 0 ? QNetworkRequest::PreferCache : QNetworkRequest::AlwaysCache);
    request.setTransferTimeout(15000);
    QNetworkReply *reply = m_network->get(request);
    m_replies.insert(url, reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, url, attempt] { finished(reply, url, attempt); });
}

void MapTileLoader::finished(QNetworkReply *reply, const QString &url, int attempt)
{
    reply->deleteLater();
    if (m_replies.value(url) != reply)
        return;
    m_replies.remove(url);
    if (reply->error() != QNetworkReply::NoError) {
        if (attempt == 0 && m_wantedSet.contains(url)) {
            start(url, 1); // a copy in the disk cache, however old, beats an empty square
            return;
        }
        qCWarning(mapLog) << "map tile" << url << "failed:" << reply->errorString();
        failed(url);
        pump();
        return;
    }
    const QByteArray bytes = reply->readAll();
    m_decoding.insert(url);
    QtConcurrent::run(&m_decodePool, [bytes] {
        QImage image;
        image.loadFromData(bytes);
        return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }).then(this, [this, url](const QImage &image) { decoded(url, image); });
    pump();
}

void MapTileLoader::failed(const QString &url)
{
    m_resting.insert(url, QDeadlineTimer(m_rest));
    if (!m_restTimer.isActive())
        m_restTimer.start(int(m_rest.count()));
}

void MapTileLoader::decoded(const QString &url, const QImage &image)
{
    m_decoding.remove(url);
    if (image.isNull()) {
        qCWarning(mapLog) << "map tile" << url << "is not an image";
        failed(url);
    } else {
        m_images.insert(url, new QImage(image), int(std::max<qint64>(1, image.sizeInBytes() / 1024)));
        emit tileReady(url);
    }
    pump();
}
