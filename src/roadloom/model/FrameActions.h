#pragma once

#include "platform/Result.h"
#include "roadcore/Channel.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

class AppModel;
class ImagePrinter;
class VideoPlayer;

// The user's actions on the frame on screen: save it as a PNG file, copy it, print it with the readings of
// that moment. Each reports its result as a toast of the model.
class FrameActions {
public:
    FrameActions(AppModel &model, ImagePrinter &printer);

    void snapshot(std::optional<Channel> channel);
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
};
