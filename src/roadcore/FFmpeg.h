#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

#include <optional>

// Conversion of AVI recordings, which the players cannot open, into QuickTime movies by the external ffmpeg
// program. Every movie is kept in a cache folder under a name made of the source's name and modification
// time, so a recording is converted once. Everything here blocks until ffmpeg ends: call it off the GUI
// thread.
namespace FFmpeg {

// The user-defaults key of a chosen ffmpeg path (empty or missing: search the usual places).
inline const QString pathDefaultsKey = QStringLiteral("ffmpegPath");

// Why a conversion gave no movie. `payload` is ffmpeg's whole error output for `failed`.
struct Failure {
    enum class Kind { failed, missing };
    Kind kind = Kind::missing;
    QString payload;

    static Failure failed(QString errorOutput) { return {Kind::failed, std::move(errorOutput)}; }
    static Failure missing() { return {Kind::missing, {}}; }

    // The text the user sees: the error output is cut to its last 600 characters (grapheme clusters).
    QString errorDescription() const;
    operator ::Failure() const { return ::Failure{errorDescription()}; }

    friend bool operator==(const Failure &, const Failure &) = default;
};

// The paths to try, in order: the chosen path, a copy beside the application, then the system's.
QStringList candidates();
// The first candidate that is an executable file; looked up afresh each time so a new choice counts at once.
std::optional<QString> executable();
// The places searched after a chosen path: a copy beside the application, then the system's.
QStringList standardPlaces();
// The chosen path when it is an executable file, else the first of `places` that is one.
std::optional<QString> executable(const QString &chosen, const QStringList &places);
// The folder of converted movies, created (if it can be) on every call.
QString cacheDirectory();

// The cached movie's name for one video stream: base, "-", modification time, "_", stream letter, ".mov".
QString movieName(const QString &aviPath, int streamIndex);

// One playable movie per requested video stream (1 to 3), in stream order.
Result<QStringList> playableStreams(const QString &aviPath, int streamCount);
// The same with the program already chosen; nothing means no ffmpeg was found.
Result<QStringList> playableStreams(const QString &aviPath, int streamCount,
                                    const std::optional<QString> &program);

struct RunOutcome {
    int status = -1; // the exit status; -1 when the program crashed
    QString log;     // the whole error output
};
// Runs the program once and waits for it: no input, output discarded, error output collected while it runs.
Result<RunOutcome> run(const QString &program, const QStringList &arguments);

} // namespace FFmpeg
