#include "roadcore/LibraryScanner.h"

#include "roadcore/ClipOrder.h"

#include "platform/ThreadGroup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The category named by the first piece of a name between "_" and "-" separators.
std::optional<ClipCategory> tokenCategory(QStringView stem)
{
    const auto separator = [](QChar c) { return c == u'_' || c == u'-'; };
    qsizetype start = 0;
    while (start < stem.size() && separator(stem[start]))
        ++start;
    qsizetype end = start;
    while (end < stem.size() && !separator(stem[end]))
        ++end;
    const QStringView token = stem.mid(start, end - start);
    if (token.isEmpty())
        return std::nullopt;
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
    // Full upper-casing maps a few letters outside ASCII onto these tokens (the dotless i gives "I").
    QString upper(token.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < token.size(); ++i) {
        const char16_t c = token[i].unicode();
        if (c >= 0x80) {
            upper = token.toString().toUpper();
            break;
        }
        upper[i] = QChar(c >= u'a' && c <= u'z' ? char16_t(c - 32) : c);
    }
    for (const TokenRow &row : rows)
        for (QStringView candidate : row.tokens)
            if (!candidate.isEmpty() && upper == candidate)
                return row.category;
    return std::nullopt;
}

// The category named by the deepest folder that names one.
ClipCategory folderCategory(const QStringList &folders)
{
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

} // namespace

namespace LibraryScanner {

namespace {

QRegularExpression compiledPattern(const char *text)
{
    QRegularExpression pattern(QString::fromLatin1(text));
    if (!pattern.isValid())
        qFatal("LibraryScanner: invalid pattern %s", text);
    pattern.optimize();
    return pattern;
}

// Each thread compiles the patterns once, on first use: threads that share one pattern take turns at it,
// which would undo reading names on several threads.
const QRegularExpression &channelPattern()
{
    static const thread_local QRegularExpression pattern =
        compiledPattern(R"(^(.*?)[_\-]([FRIfri])( [0-9]+)?$)");
    return pattern;
}

const QRegularExpression &datePattern()
{
    static const thread_local QRegularExpression pattern = compiledPattern(
        R"((20[0-9]{2})[_\-]?([0-9]{2})[_\-]?([0-9]{2})[_\-T]?([0-9]{2})[_\-:]?([0-9]{2})[_\-:]?([0-9]{2}))");
    return pattern;
}

// Reads wall-clock times in one time zone. A card's recordings mostly fall between the same two clock
// changes, so the offset of the last stretch between changes is kept; times near a change take the full way.
class LocalClock {
public:
    explicit LocalClock(QTimeZone zone) : m_zone(std::move(zone)) {}

    // The instant shown as this date and time. A time the clocks skipped when daylight-saving time began
    // is read with the offset in force just before the change, so it lands as far after the change as it
    // was after the last valid time.
    QDateTime toUtc(QDate date, QTime time)
    {
        const qint64 wallMs = (date.toJulianDay() - unixEpochDay) * msPerDay + time.msecsSinceStartOfDay();
        const qint64 guess = wallMs - qint64(m_offset) * 1000;
        // Far from both changes no other instant can show the same time.
        if (m_known && guess - m_from >= margin && m_to - guess > margin)
            return QDateTime::fromMSecsSinceEpoch(guess, Qt::UTC);
        const QDateTime instant = convert(date, time, wallMs);
        remember(instant);
        return instant;
    }

private:
    static constexpr qint64 unixEpochDay = 2440588; // Julian day of 1970-01-01
    static constexpr qint64 msPerDay = 86400000;
    static constexpr qint64 margin = 2 * msPerDay;

    QDateTime convert(QDate date, QTime time, qint64 wallMs) const
    {
        if (!m_zone.isValid()) { // a zone Qt cannot read: the C library's reading of it
            const QDateTime local(date, time, Qt::LocalTime);
            if (local.isValid())
                return local.toUTC();
        } else if (const QDateTime local(date, time, m_zone); local.isValid()) {
            return local.toUTC();
        }
        const QDateTime before = QDateTime::fromMSecsSinceEpoch(wallMs - 15 * 3600 * 1000, Qt::UTC);
        const int offset =
            m_zone.isValid() ? m_zone.offsetFromUtc(before) : before.toLocalTime().offsetFromUtc();
        return QDateTime::fromMSecsSinceEpoch(wallMs - qint64(offset) * 1000, Qt::UTC);
    }

    void remember(const QDateTime &instant)
    {
        m_known = false;
        if (!m_zone.isValid() || !instant.isValid())
            return;
        if (!m_zone.hasTransitions()) {
            m_from = LLONG_MIN / 2;
            m_to = LLONG_MAX / 2;
        } else {
            // A change at this very instant starts the stretch.
            const QTimeZone::OffsetData previous = m_zone.previousTransition(instant.addMSecs(1));
            const QTimeZone::OffsetData next = m_zone.nextTransition(instant);
            m_from = previous.atUtc.isValid() ? previous.atUtc.toMSecsSinceEpoch() : LLONG_MIN / 2;
            m_to = next.atUtc.isValid() ? next.atUtc.toMSecsSinceEpoch() : LLONG_MAX / 2;
        }
        m_offset = m_zone.offsetFromUtc(instant);
        m_known = true;
    }

    QTimeZone m_zone;
    bool m_known = false;
    qint64 m_from = 0; // the stretch between clock changes in which m_offset holds, in UTC milliseconds
    qint64 m_to = 0;
    int m_offset = 0;
};

// Qt's zone lookups share process-wide caches; concurrent scans take turns at them.
std::mutex &zoneLookup()
{
    static std::mutex lock;
    return lock;
}

// The user's time zone, read once per scan: each local-time conversion through the C library would look
// at the zone file again. Each thread of a scan keeps its own copy.
QTimeZone localZone()
{
    const std::lock_guard guard(zoneLookup());
    return QTimeZone::systemTimeZone();
}

QTimeZone zoneCopy(const QByteArray &id)
{
    const std::lock_guard guard(zoneLookup());
    return id.isEmpty() ? QTimeZone() : QTimeZone(id);
}

std::optional<QDateTime> dateInZone(QStringView name, LocalClock &clock)
{
    const QRegularExpressionMatch match = datePattern().match(name);
    if (!match.hasMatch())
        return std::nullopt;
    // The pattern takes ASCII digits only.
    std::array<int, 6> v{};
    for (int i = 0; i < 6; ++i)
        for (qsizetype at = match.capturedStart(i + 1); at < match.capturedEnd(i + 1); ++at)
            v[size_t(i)] = v[size_t(i)] * 10 + (name[at].unicode() - u'0');
    const QDate date(v[0], v[1], v[2]); // always the Gregorian calendar
    const QTime time(v[3], v[4], v[5]);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return clock.toUtc(date, time);
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
    qint64 size = 0;
    std::optional<qint64> createdMs;
};

qint64 toMs(const struct statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Size, type and creation date (many Linux file systems keep none: then the modification date), following
// links.
FileMeta statAt(int dirFd, const char *name)
{
    FileMeta meta;
    struct statx sx {};
    if (::statx(dirFd, name, 0, STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME, &sx) == 0) {
        meta.readable = true;
        meta.regular = S_ISREG(sx.stx_mode);
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
    if (::fstatat(dirFd, name, &st, 0) != 0)
        return meta;
    meta.readable = true;
    meta.regular = S_ISREG(st.st_mode);
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

// The path of a name in a folder, or nothing when the name is not valid UTF-8: such a path could never be
// opened again.
std::optional<QString> childPath(const QString &folder, const std::string &name)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (unsigned char)c < 0x80; });
    QString path;
    path.reserve(folder.size() + 1 + qsizetype(name.size()));
    path.append(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        path.append(QLatin1Char('/'));
    if (ascii) {
        path.append(QLatin1StringView(name.data(), qsizetype(name.size())));
        return path;
    }
    const QByteArray bytes(name.data(), qsizetype(name.size()));
    const QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) != bytes)
        return std::nullopt;
    path.append(text);
    return path;
}

// The folder of listed files, shared by them until their metadata is read. A few such folders are kept open:
// looking a name up in an open folder is cheaper than walking the whole path again.
class ListedFolder {
public:
    static constexpr int openLimit = 64;

    ListedFolder(std::string native, int fd, std::atomic<int> &open)
        : m_native(std::move(native)), m_open(open)
    {
        if (m_open.load() < openLimit && (m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0)) >= 0)
            ++m_open;
    }
    ~ListedFolder()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            --m_open;
        }
    }
    ListedFolder(const ListedFolder &) = delete;
    ListedFolder &operator=(const ListedFolder &) = delete;

    FileMeta metadata(const std::string &name) const
    {
        if (m_fd >= 0)
            return statAt(m_fd, name.c_str());
        return statAt(AT_FDCWD, (m_native.back() == '/' ? m_native + name : m_native + '/' + name).c_str());
    }

private:
    std::string m_native; // as the file system spells it
    int m_fd = -1;
    std::atomic<int> &m_open;
};

// A video file found by the listing. Its size and date are read afterwards, from its folder, unless the
// listing already had to look at the file (a link, a file given directly).
struct Listed {
    QString path;
    std::optional<FileMeta> meta;
    std::shared_ptr<const ListedFolder> folder;
    std::string name; // as the file system spells it
};

// Recursive, depth-first listing of the video files under a folder. Each folder is read whole before its
// subfolders are entered, and only folders with video files stay open (a few, for reading their metadata);
// entries are taken in code-point order so that a scan is repeatable whatever order the file system lists
// them in.
class VideoFileWalker {
public:
    using Sink = std::function<void(Listed &&)>;
    VideoFileWalker(Sink sink, std::atomic<int> &openFolders)
        : m_sink(std::move(sink)), m_openFolders(openFolders)
    {
    }

    void walk(const QString &root)
    {
        std::vector<Frame> stack;
        // Each given folder is listed whole, even inside another given one, as if it were given alone.
        m_seen.clear();
        Frame first{root, QFile::encodeName(root).toStdString(), {}, 0, 0, nullptr};
        if (!read(first, true))
            return;
        stack.push_back(std::move(first));
        while (!stack.empty()) {
            Frame &top = stack.back();
            if (top.next == top.entries.size()) {
                stack.pop_back();
                continue;
            }
            Entry &entry = top.entries[top.next++];
            // After its last file the folder stays open only for the listed files that still need it.
            std::shared_ptr<const ListedFolder> handle;
            if (!entry.folder)
                handle = --top.filesLeft == 0 ? std::move(top.handle) : top.handle;
            std::optional<QString> path = childPath(top.path, entry.name);
            if (!path)
                continue;
            if (!entry.folder) {
                m_sink(Listed{std::move(*path), entry.meta, std::move(handle), std::move(entry.name)});
                continue;
            }
            std::string native =
                top.native.back() == '/' ? top.native + entry.name : top.native + '/' + entry.name;
            Frame child{std::move(*path), std::move(native), {}, 0, 0, nullptr};
            if (read(child, false))
                stack.push_back(std::move(child));
        }
    }

private:
    struct Entry {
        std::string name; // as the file system gave it
        bool folder = false;
        std::optional<FileMeta> meta;
    };
    struct Frame {
        QString path;
        std::string native;
        std::vector<Entry> entries;
        size_t next = 0;
        size_t filesLeft = 0;
        std::shared_ptr<const ListedFolder> handle;
    };

    // Unreadable folders, and folders already seen (a bind mount inside itself), give nothing.
    bool read(Frame &frame, bool isRoot)
    {
        // Below the root, symbolic links to folders are not followed: a card with a link loop must not hang.
        const int fd =
            ::open(frame.native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
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
        std::vector<Entry> &entries = frame.entries;
        while (const dirent *item = ::readdir(dir)) {
            const char *name = item->d_name;
            // Hidden items, "." and "..", and the "._" companions that other systems leave on cards.
            if (name[0] == '.')
                continue;
            const size_t length = strlen(name);
            unsigned char type = item->d_type;
            if (type == DT_UNKNOWN) {
                struct stat s {};
                if (::fstatat(fd, name, &s, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = IFTODT(s.st_mode);
            }
            if (type == DT_DIR) {
                entries.push_back(Entry{std::string(name, length), true, std::nullopt});
                continue;
            }
            // A folder named like a video is not a file; neither are devices, pipes and sockets.
            if ((type != DT_REG && type != DT_LNK) || !hasVideoExtension(name, length))
                continue;
            std::optional<FileMeta> meta;
            if (type == DT_LNK) {
                // Only a link to a regular file counts as one; a link to nothing, a folder or itself does
                // not.
                meta = statAt(fd, name);
                if (!meta->readable || !meta->regular)
                    continue;
            }
            entries.push_back(Entry{std::string(name, length), false, meta});
            ++frame.filesLeft;
        }
        if (frame.filesLeft > 0)
            frame.handle = std::make_shared<const ListedFolder>(frame.native, fd, m_openFolders);
        ::closedir(dir);
        // Byte order of UTF-8 names is code-point order.
        std::sort(entries.begin(), entries.end(),
                  [](const Entry &a, const Entry &b) { return a.name < b.name; });
        return true;
    }

    Sink m_sink;
    std::atomic<int> &m_openFolders;
    std::set<std::pair<dev_t, ino_t>> m_seen;
};

// Hands work from one thread to another, in order.
template <class T> class WorkQueue {
public:
    void push(T item)
    {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(item));
        }
        m_ready.notify_one();
    }
    void close()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_ready.notify_all();
    }
    // The next item; nothing once the queue is closed and empty.
    std::optional<T> pop()
    {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_items.empty() || m_closed; });
        if (m_items.empty())
            return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<T> m_items;
    bool m_closed = false;
};

// What a file's name says: its base name and channel, and the date and category its base name gives.
struct NameFacts {
    ChannelSplit parts;
    std::optional<QDateTime> date;
    std::optional<ClipCategory> category;
};

QStringView stemOf(QStringView path)
{
    const QStringView name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 ? name.left(dot) : name;
}

NameFacts nameFacts(QStringView path, LocalClock &clock)
{
    NameFacts facts{split(stemOf(path)), std::nullopt, std::nullopt};
    facts.date = dateInZone(facts.parts.base, clock);
    facts.category = tokenCategory(facts.parts.base);
    return facts;
}

// A run of listed files, in listing order, with their sizes, dates and name facts once read.
struct Batch {
    std::vector<Listed> files;
    std::vector<FileMeta> metas;
    std::vector<NameFacts> names;
    bool ready = false; // guarded by the scan's lock
};

void readBatch(Batch &batch, LocalClock &clock)
{
    batch.metas.resize(batch.files.size());
    batch.names.reserve(batch.files.size());
    for (size_t i = 0; i < batch.files.size(); ++i) {
        Listed &file = batch.files[i];
        batch.metas[i] = file.meta ? *file.meta : file.folder->metadata(file.name);
        file.folder.reset();
        batch.names.push_back(nameFacts(file.path, clock));
    }
}

// Lists the given files and folders in order, handing each video file to `sink`.
void listVideoFiles(const QStringList &paths, const VideoFileWalker::Sink &sink,
                    std::atomic<int> &openFolders)
{
    VideoFileWalker walker(sink, openFolders);
    for (const QString &given : paths) {
        if (given.isEmpty())
            continue;
        const QString path = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            walker.walk(path);
        else if (LibraryScanner::hasVideoExtension(path)) // given directly: kept on its extension alone
            sink(Listed{path, statAt(AT_FDCWD, native.constData()), nullptr, {}});
    }
}

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
    ClipCategory category = ClipCategory::other; // for names without a category token
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
    facts.category = folderCategory(components.mid(std::max<qsizetype>(0, components.size() - 3)));
    return facts;
}

// Groups files into recordings by their names alone, in the order added; the sizes and file dates are only
// needed at the end, so they can be read meanwhile.
class Grouping {
public:
    explicit Grouping(qsizetype expected)
    {
        m_drafts.reserve(size_t(expected));
        m_byId.reserve(expected);
    }

    void add(const QString &file, const NameFacts &named)
    {
        const qsizetype index = m_added++;
        const QStringView path(file);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QStringView folder = slash >= 0 ? path.left(slash) : QStringView();
        const QStringView name = path.mid(slash + 1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QStringView stem = dot >= 0 ? name.left(dot) : name;

        // Files come folder by folder, so the folder's facts are worked out once per folder.
        if (!m_haveFacts || folder != m_lastFolder) {
            m_facts = folderFacts(folder);
            m_lastFolder = folder.toString();
            m_haveFacts = true;
        }

        const ChannelSplit &parts = named.parts;
        const QString key = m_facts.groupingFolder + QLatin1Char('/') + parts.base;
        auto found = m_byId.constFind(key);
        if (found == m_byId.constEnd()) {
            Draft draft;
            draft.clip.id = key;
            draft.clip.name = parts.base;
            draft.clip.category = named.category ? *named.category : m_facts.category;
            draft.clip.date = named.date;
            if (!draft.clip.date)
                draft.dateFile = index;
            found = m_byId.insert(key, qsizetype(m_drafts.size()));
            m_drafts.push_back(std::move(draft));
        }
        Draft &draft = m_drafts[size_t(*found)];
        if (draft.clip.files.emplace(parts.channel, file).second) {
            draft.sized[draft.sizedCount++] = index;
            return;
        }

        // A second file of one base and channel (the same recording in two formats, or one file given
        // twice) becomes a recording of its own, dated and categorised like the recording at its key.
        Draft extra;
        extra.clip.id = key + QLatin1Char('#') + name.toString();
        extra.clip.name = stem.toString();
        extra.clip.category = draft.clip.category;
        extra.clip.date = draft.clip.date;
        extra.dateFile = draft.dateFile;
        extra.clip.files.emplace(Channel::front, file);
        extra.sized[extra.sizedCount++] = index;
        if (auto existing = m_byId.constFind(extra.clip.id); existing != m_byId.constEnd()) {
            m_drafts[size_t(*existing)] = std::move(extra);
        } else {
            m_byId.insert(extra.clip.id, qsizetype(m_drafts.size()));
            m_drafts.push_back(std::move(extra));
        }
    }

    // Adds sizes and file dates (by the index of each file in the order added) and sorts newest first.
    template <class SizeOf, class DateOf> QList<DashClip> finish(SizeOf sizeOf, DateOf dateOf)
    {
        QList<DashClip> clips;
        clips.reserve(qsizetype(m_drafts.size()));
        for (Draft &draft : m_drafts) {
            for (int k = 0; k < draft.sizedCount; ++k)
                draft.clip.byteSize += sizeOf(draft.sized[size_t(k)]);
            if (!draft.clip.date && draft.dateFile >= 0)
                draft.clip.date = dateOf(draft.dateFile);
            clips.append(std::move(draft.clip));
        }
        ClipOrder::sortNewestFirst(clips);
        return clips;
    }

private:
    struct Draft {
        DashClip clip;
        std::array<qsizetype, 3> sized{}; // the files whose sizes add up to the recording's
        int sizedCount = 0;
        qsizetype dateFile = -1; // when the name has no date: the file whose date the recording takes
    };

    std::vector<Draft> m_drafts;
    QHash<QString, qsizetype> m_byId;
    qsizetype m_added = 0;
    QString m_lastFolder;
    FolderFacts m_facts;
    bool m_haveFacts = false;
};

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
    const FileMeta meta = statAt(AT_FDCWD, QFile::encodeName(path).constData());
    return VideoFile{path, meta.size, dateFromMs(meta.createdMs)};
}

// Three stages run at once: the listing on one thread; reading each file's size and dates (one system call
// per file, dearer than the listing itself) and what its name says, on a few more; and the grouping, in
// listing order, on the caller's thread.
QList<DashClip> scan(const QStringList &paths)
{
    constexpr size_t batchSize = 256;
    std::atomic<int> openFolders{0}; // outlives every batch and the folders they hold open
    const QByteArray zoneId = localZone().id();
    std::mutex lock;
    std::condition_variable readied;
    std::vector<std::unique_ptr<Batch>> batches; // in listing order, guarded by the lock
    bool listingDone = false;                    // guarded by the lock
    WorkQueue<Batch *> unread;

    const auto list = [&] {
        const auto fresh = [] {
            auto batch = std::make_unique<Batch>();
            batch->files.reserve(batchSize);
            return batch;
        };
        auto batch = fresh();
        const auto handOver = [&] {
            Batch *raw = batch.get();
            {
                std::lock_guard guard(lock);
                batches.push_back(std::move(batch));
            }
            unread.push(raw);
            batch = fresh();
        };
        listVideoFiles(
            paths,
            [&](Listed &&file) {
                batch->files.push_back(std::move(file));
                if (batch->files.size() == batchSize)
                    handOver();
            },
            openFolders);
        if (!batch->files.empty())
            handOver();
        unread.close();
        {
            std::lock_guard guard(lock);
            listingDone = true;
        }
        readied.notify_all();
    };
    const auto read = [&] {
        LocalClock clock(zoneCopy(zoneId));
        while (const std::optional<Batch *> batch = unread.pop()) {
            readBatch(**batch, clock);
            {
                std::lock_guard guard(lock);
                (*batch)->ready = true;
            }
            readied.notify_all();
        }
    };

    Grouping grouping(0);
    {
        ThreadGroup threads;
        // Closed on every way out, so that no reader waits for ever.
        const auto closeUnread = qScopeGuard([&unread] { unread.close(); });
        const unsigned readers = std::clamp(std::thread::hardware_concurrency(), 1u, 3u);
        unsigned started = 0;
        while (started < readers && threads.start(read))
            ++started;
        if (started == 0 || !threads.start(list)) {
            // No threads to spare: one stage after the other on this thread.
            list();
            read();
        }
        for (size_t next = 0;; ++next) {
            Batch *batch = nullptr;
            {
                std::unique_lock guard(lock);
                readied.wait(guard,
                             [&] { return next < batches.size() ? batches[next]->ready : listingDone; });
                if (next == batches.size())
                    break;
                batch = batches[next].get();
            }
            for (size_t i = 0; i < batch->files.size(); ++i)
                grouping.add(batch->files[i].path, batch->names[i]);
        }
    }

    std::vector<const FileMeta *> metas;
    for (const std::unique_ptr<Batch> &batch : batches)
        for (const FileMeta &meta : batch->metas)
            metas.push_back(&meta);
    return grouping.finish([&metas](qsizetype i) { return metas[size_t(i)]->size; },
                           [&metas](qsizetype i) { return dateFromMs(metas[size_t(i)]->createdMs); });
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
    LocalClock clock(localZone());
    Grouping grouping(files.size());
    for (const VideoFile &file : files)
        grouping.add(file.path, nameFacts(file.path, clock));
    return grouping.finish([&files](qsizetype i) { return files[i].size; },
                           [&files](qsizetype i) { return files[i].created; });
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
    LocalClock clock(localZone());
    return dateInZone(name, clock);
}

} // namespace LibraryScanner

ClipCategory inferClipCategory(QStringView stem, const QStringList &folders)
{
    if (const std::optional<ClipCategory> named = tokenCategory(stem))
        return *named;
    return folderCategory(folders);
}
