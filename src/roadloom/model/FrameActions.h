#pragma once

#include "platform/Result.h"
#include "roadcore/Channel.h"
#include "platform/LoneThreads.h"

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QString>

#include <functional>
#include <optional>

class AppModel;
class ImagePrinter;
class VideoPlayer;

// The user's actions on the frame on screen: save it as a PNG file, copy it, print it with the readings of
// that moment. Each reports its result as a toast of the model.
class FrameActions {
public:
    using FileAccess = std::function<void(const QString &path)>;
    // `beforeFileAccess`, when given, is called off the GUI thread before a snapshot is written.
    FrameActions(AppModel &model, ImagePrinter &printer, FileAccess beforeFileAccess = {});

    // The picture is taken at once and written off the GUI thread (the folder may be on a share that stops
    // answering); the future finishes once the result was shown.
    QFuture<void> snapshot(std::optional<Channel> channel);
    void copyFrame();
    void printFrame();

    static Result<QByteArray> pngData(const QImage &image);
    // "NAME_F_2500.png"; a "/" in the name becomes "-", so the file stays in its folder.
    static QString snapshotFileName(const QString &clipName, Channel channel, double seconds);
    // The folder snapshots go to: the "snapshotFolder" default, else the home folder.
    QString snapshotFolder() const;

private:
    // The player of the main stage: the second one when swapped and loaded, else the front one.
    VideoPlayer &mainStagePlayer() const;

    AppModel &m_model;
    ImagePrinter &m_printer;
    FileAccess m_beforeFileAccess;
    LoneThreads m_writes; // last: no result arrives once the rest is gone
};
