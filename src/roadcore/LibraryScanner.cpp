#include "roadcore/LibraryScanner.h"

#include "platform/StringOrder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LibraryScanner {

namespace {

QRegularExpression compiledPattern(const char *text)
{
    QRegularExpression pattern(QString::fromLatin1(text));
    if (!pattern.isValid())
        qFatal("LibraryScanner: invalid pattern %s", text);
    // Compile now, under the one-time initialisation, so concurrent scans only read it.
    pattern.optimize();
    return pattern;
}

const QRegularExpression &channelPattern()
{
    static const QRegularExpression pattern = compiledPattern(R"(^(.*?)[_\-]([FRIfri])( [0-9]+)?$)");
    return pattern;
}

const QRegularExpression &datePattern()
{
    static const QRegularExpression pattern = compiledPattern(
        R"((20[0-9]{2})[_\-]?([0-9]{2})[_\-]?([0-9]{2})[_\-T]?([0-9]{2})[_\-:]?([0-9]{2})[_\-:]?([0-9]{2}))");
    return pattern;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The extension test on a raw file name: the extensions are ASCII, so bytes compare exactly.
bool hasVideoExtension(const char *name, size_t length)
{
    const char *dot = static_cast<const char *>(memrchr(name, '.', length));
    if (!dot || name + length - dot != 4)
        return false;
    const char ext[3] = {asciiLower(dot[1]), asciiLower(dot[2]), asciiLower(dot[3])};
    static constexpr std::array<const char *, 4> known{"mp4", "mov", "avi", "m4v"};
    return std::any_of(known.begin(), known.end(),
                       [&](const char *k) { return ext[0] == k[0] && ext[1] == k[1] && ext[2] == k[2]; });
}

struct FileMeta {
    bool readable = false;
    bool regular = false;
    bool directory = false;
    qint64 size = 0;
    std::optional<qint64> createdMs;
};

qint64 toMs(const struct statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Size, type and creation date (many Linux file systems keep none: then the modification date).
FileMeta statAt(int dirFd, const char *name, bool follow)
{
    FileMeta meta;
    struct statx sx {};
    const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(dirFd, name, flags, STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME, &sx) == 0) {
        meta.readable = true;
        meta.regular = S_ISREG(sx.stx_mode);
        meta.directory = S_ISDIR(sx.stx_mode);
        meta.size = meta.regular ? qint64(sx.stx_size) : 0;
        if ((sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0))
            meta.createdMs = toMs(sx.stx_btime);
        else if (sx.stx_mask & STATX_MTIME)
            meta.createdMs = toMs(sx.stx_mtime);
        return meta;
    }
    if (errno != ENOSYS)
        return meta;
    struct stat st {};
    if (::fstatat(dirFd, name, &st, flags) != 0)
        return meta;
    meta.readable = true;
    meta.regular = S_ISREG(st.st_mode);
    meta.directory = S_ISDIR(st.st_mode);
    meta.size = meta.regular ? qint64(st.st_size) : 0;
    meta.createdMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return meta;
}

std::optional<QDateTime> dateFromMs(std::optional<qint64> ms)
{
    if (!ms)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC);
}

// A file name as text, or nothing when it is not valid UTF-8: such a path could never be opened again.
std::optional<QString> decodeName(const char *name, size_t length)
{
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i)
        ascii = static_cast<unsigned char>(name[i]) < 0x80;
    const QByteArrayView bytes(name, qsizetype(length));
    if (ascii)
        return QString::fromLatin1(bytes);
    QString text = QFile::decodeName(bytes.toByteArray());
    if (QFile::encodeName(text) != bytes)
        return std::nullopt;
    return text;
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Recursive, depth-first listing of the video files under a folder. Each folder is read whole and closed
// before its subfolders are entered, so deep trees hold no descriptors open; entries are taken in code-point
// order so that a scan is repeatable whatever order the file system lists them in.
class VideoFileWalker {
public:
    explicit VideoFileWalker(QList<VideoFile> &out) : m_out(out) {}

    void walk(const QString &root)
    {
        struct Frame {
            QString path;
            std::vector<Item> items;
            size_t next = 0;
        };
        std::vector<Frame> stack;
        // Each given folder is listed whole, even inside another given one, as if it were given alone.
        m_seen.clear();
        Frame first{root, {}, 0};
        if (!read(root, first.items, true))
            return;
        stack.push_back(std::move(first));
        while (!stack.empty()) {
            Frame &top = stack.back();
            if (top.next == top.items.size()) {
                stack.pop_back();
                continue;
            }
            Item &item = top.items[top.next++];
            QString path = joinPath(top.path, item.name);
            if (!item.folder) {
                m_out.append(VideoFile{std::move(path), item.size, dateFromMs(item.createdMs)});
                continue;
            }
            Frame child{std::move(path), {}, 0};
            if (read(child.path, child.items, false))
                stack.push_back(std::move(child));
        }
    }

private:
    struct Item {
        QString name;
        bool folder = false;
        qint64 size = 0;
        std::optional<qint64> createdMs;
    };

    // Unreadable folders, and folders already seen (a bind mount inside itself), give nothing.
    bool read(const QString &path, std::vector<Item> &items, bool isRoot)
    {
        const QByteArray native = QFile::encodeName(path);
        // Below the root, symbolic links to folders are not followed: a card with a link loop must not hang.
        const int fd =
            ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
        if (fd < 0)
            return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !m_seen.insert({st.st_dev, st.st_ino}).second) {
            ::close(fd);
            return false;
        }
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return false;
        }
        while (const dirent *entry = ::readdir(dir)) {
            const char *name = entry->d_name;
            // Hidden items, "." and "..", and the "._" companions that other systems leave on cards.
            if (name[0] == '.')
                continue;
            const size_t length = strlen(name);
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat s {};
                if (::fstatat(fd, name, &s, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = IFTODT(s.st_mode);
            }
            if (type == DT_DIR) {
                if (std::optional<QString> text = decodeName(name, length))
                    items.push_back(Item{std::move(*text), true, 0, std::nullopt});
                continue;
            }
            // A folder named like a video is not a file; neither are devices, pipes and sockets.
            if ((type != DT_REG && type != DT_LNK) || !hasVideoExtension(name, length))
                continue;
            const FileMeta meta = statAt(fd, name, true);
            if (meta.readable && !meta.regular)
                continue;
            // A link to nothing is no file; a file that vanished since the listing keeps size 0.
            if (!meta.readable && type == DT_LNK)
                continue;
            if (std::optional<QString> text = decodeName(name, length))
                items.push_back(Item{std::move(*text), false, meta.size, meta.createdMs});
        }
        ::closedir(dir);
        std::sort(items.begin(), items.end(),
                  [](const Item &a, const Item &b) { return StringOrder::less(a.name, b.name); });
        return true;
    }

    QList<VideoFile> &m_out;
    std::set<std::pair<dev_t, ino_t>> m_seen;
};

bool isChannelFolder(QStringView name)
{
    if (name.isEmpty() || name.size() > 8)
        return false;
    const QString lower = name.toString().toLower();
    return lower == u"f" || lower == u"r" || lower == u"front" || lower == u"rear" || lower == u"interior";
}

// What every file of one folder shares: where its recordings are keyed and the folder names for the
// category guess.
struct FolderFacts {
    QString groupingFolder;
    QStringList folders;
};

FolderFacts folderFacts(QStringView folder)
{
    FolderFacts facts;
    const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
    // Cameras that keep each channel in its own folder: group by the folder above.
    const bool channelFolder = isChannelFolder(folder.mid(slash + 1));
    facts.groupingFolder = (channelFolder && slash >= 0 ? folder.left(slash) : folder).toString();

    QStringList components;
    if (folder.startsWith(QLatin1Char('/')) || folder.isEmpty())
        components.append(QStringLiteral("/"));
    for (QStringView part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components.append(part.toString());
    facts.folders = components.mid(std::max<qsizetype>(0, components.size() - 3));
    return facts;
}

} // namespace

const QSet<QString> &videoExtensions()
{
    static const QSet<QString> extensions{QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("avi"),
                                          QStringLiteral("m4v")};
    return extensions;
}

bool hasVideoExtension(QStringView path)
{
    const QStringView name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && videoExtensions().contains(name.mid(dot + 1).toString().toLower());
}

VideoFile videoFile(const QString &path)
{
    const FileMeta meta = statAt(AT_FDCWD, QFile::encodeName(path).constData(), true);
    return VideoFile{path, meta.size, dateFromMs(meta.createdMs)};
}

QList<DashClip> scan(const QStringList &paths)
{
    QList<VideoFile> files;
    VideoFileWalker walker(files);
    for (const QString &given : paths) {
        if (given.isEmpty())
            continue;
        const QString path = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            walker.walk(path);
        else if (hasVideoExtension(path)) // given directly: kept on its extension alone
            files.append(videoFile(path));
    }
    return group(files);
}

QList<DashClip> group(const QStringList &paths)
{
    QList<VideoFile> files;
    files.reserve(paths.size());
    for (const QString &path : paths)
        files.append(videoFile(path));
    return group(files);
}

QList<DashClip> group(const QList<VideoFile> &files)
{
    QList<DashClip> clips;
    clips.reserve(files.size());
    QHash<QString, qsizetype> byId;
    byId.reserve(files.size());

    QString lastFolder;
    FolderFacts facts;
    bool haveFacts = false;
    for (const VideoFile &file : files) {
        const QStringView path(file.path);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QStringView folder = slash >= 0 ? path.left(slash) : QStringView();
        const QStringView name = path.mid(slash + 1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QStringView stem = dot >= 0 ? name.left(dot) : name;

        // Files come folder by folder, so the folder's facts are worked out once per folder.
        if (!haveFacts || folder != lastFolder) {
            facts = folderFacts(folder);
            lastFolder = folder.toString();
            haveFacts = true;
        }

        ChannelSplit parts = split(stem);
        const QString key = facts.groupingFolder + QLatin1Char('/') + parts.base;
        auto found = byId.constFind(key);
        if (found == byId.constEnd()) {
            DashClip clip;
            clip.id = key;
            clip.name = parts.base;
            clip.category = inferClipCategory(parts.base, facts.folders);
            clip.date = dateFromName(parts.base);
            if (!clip.date)
                clip.date = file.created;
            found = byId.insert(key, clips.size());
            clips.append(std::move(clip));
        }
        DashClip &clip = clips[*found];
        if (clip.files.emplace(parts.channel, file.path).second) {
            clip.byteSize += file.size;
            continue;
        }

        // A second file of one base and channel (the same recording in two formats, or one file given
        // twice) becomes a recording of its own.
        DashClip extra;
        extra.id = key + QLatin1Char('#') + name.toString();
        extra.name = stem.toString();
        extra.category = clip.category;
        extra.date = clip.date;
        extra.files.emplace(Channel::front, file.path);
        extra.byteSize = file.size;
        if (auto existing = byId.constFind(extra.id); existing != byId.constEnd()) {
            clips[*existing] = std::move(extra);
        } else {
            byId.insert(extra.id, clips.size());
            clips.append(std::move(extra));
        }
    }

    // Newest first; undated recordings last; equal dates by name, descending. Keys are worked out once.
    struct SortKey {
        qint64 date;
        qsizetype index;
    };
    std::vector<SortKey> order;
    order.reserve(size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i)
        order.push_back({clips[i].date ? clips[i].date->toMSecsSinceEpoch() : LLONG_MIN, i});
    std::stable_sort(order.begin(), order.end(), [&clips](const SortKey &a, const SortKey &b) {
        if (a.date != b.date)
            return a.date > b.date;
        return StringOrder::compare(clips[a.index].name, clips[b.index].name) > 0;
    });
    QList<DashClip> sorted;
    sorted.reserve(clips.size());
    for (const SortKey &key : order)
        sorted.append(std::move(clips[key.index]));
    return sorted;
}

ChannelSplit split(QStringView stem)
{
    const QRegularExpressionMatch match = channelPattern().match(stem);
    if (!match.hasMatch())
        return {stem.toString(), Channel::front};
    QString base = match.captured(1);
    if (match.capturedStart(3) >= 0)
        base += match.capturedView(3);
    const QChar letter = match.capturedView(2).front().toUpper();
    const Channel channel = letter == u'R'   ? Channel::rear
                            : letter == u'I' ? Channel::interior
                                             : Channel::front;
    return {std::move(base), channel};
}

std::optional<QDateTime> dateFromName(QStringView name)
{
    const QRegularExpressionMatch match = datePattern().match(name);
    if (!match.hasMatch())
        return std::nullopt;
    std::array<int, 6> v{};
    for (int i = 0; i < 6; ++i)
        v[size_t(i)] = match.capturedView(i + 1).toInt();
    const QDate date(v[0], v[1], v[2]); // always the Gregorian calendar
    const QTime time(v[3], v[4], v[5]);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime local(date, time, Qt::LocalTime);
    if (local.isValid())
        return local.toUTC();
    // The clocks skipped this time when daylight-saving time began: read it with the offset in force just
    // before the change, so it lands as far after the change as it was after the last valid time.
    const qint64 wall = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    const int before = QDateTime::fromSecsSinceEpoch(wall - 15 * 3600, Qt::LocalTime).offsetFromUtc();
    return QDateTime::fromSecsSinceEpoch(wall - before, Qt::UTC);
}

} // namespace LibraryScanner

ClipCategory inferClipCategory(QStringView stem, const QStringList &folders)
{
    // The first piece of the name between "_" and "-" separators.
    const auto separator = [](QChar c) { return c == u'_' || c == u'-'; };
    qsizetype start = 0;
    while (start < stem.size() && separator(stem[start]))
        ++start;
    qsizetype end = start;
    while (end < stem.size() && !separator(stem[end]))
        ++end;
    const QStringView token = stem.mid(start, end - start);
    if (!token.isEmpty()) {
        struct TokenRow {
            ClipCategory category;
            std::array<QStringView, 4> tokens;
        };
        static constexpr TokenRow rows[] = {
            {ClipCategory::continuous, {u"REC", u"CONT", u"NORMAL", u"DRIVE"}},
            {ClipCategory::event, {u"EVT", u"EVENT", u"INF", u"SOS"}},
            {ClipCategory::manual, {u"MAN", u"MANUAL"}},
            {ClipCategory::motion, {u"MOT", u"MOTION"}},
            {ClipCategory::parking, {u"PARK", u"PAR", u"PRK", u"PARKING"}},
            {ClipCategory::timelapse, {u"TL", u"TIMELAPSE", u"TLP"}},
        };
        const QString upper = token.toString().toUpper();
        for (const TokenRow &row : rows)
            for (QStringView candidate : row.tokens)
                if (!candidate.isEmpty() && upper == candidate)
                    return row.category;
    }

    for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
        const QString folder = it->toLower();
        if (folder.contains(u"timelapse"))
            return ClipCategory::timelapse;
        if (folder.startsWith(u"cont") || folder == u"normal" || folder == u"drive")
            return ClipCategory::continuous;
        if (folder.startsWith(u"evt") || folder.startsWith(u"event") || folder.contains(u"safety"))
            return ClipCategory::event;
        if (folder.startsWith(u"manual"))
            return ClipCategory::manual;
        if (folder.startsWith(u"motion"))
            return ClipCategory::motion;
        if (folder.startsWith(u"park"))
            return ClipCategory::parking;
    }
    return ClipCategory::other;
}
