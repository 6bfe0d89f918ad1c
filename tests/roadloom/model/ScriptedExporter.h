#pragma once

#include "roadloom/model/ClipExportJob.h"

#include "fixtures/TestSupport.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QSet>
#include <QStringList>

#include <chrono>

// Writes "movie of SOURCE" at the destination; gated runs report half their movie, then wait for a release
// (or a cancel, which fails like the real exporter and leaves the partial file to the job).
struct ScriptedExporter {
    QMutex mutex;
    QStringList calls; // "SOURCE -> DESTINATION FILE NAME"
    QList<ExportPreset> presets;
    QSet<QString> failing; // sources that fail
    bool gated = false;
    bool deaf = false; // a gated run does not hear the cancel either, as a write its file system holds
    QSemaphore gate;

    QStringList callLog()
    {
        QMutexLocker lock(&mutex);
        return calls;
    }

    MovieExporter make()
    {
        return [this](const QString &source, double, double, const ExportPreset &preset,
                      const QString &destination, std::atomic<double> *progress,
                      const std::atomic<bool> *cancel) -> Result<void> {
            {
                QMutexLocker lock(&mutex);
                calls.append(source + " -> " + QFileInfo(destination).fileName());
                presets.append(preset);
            }
            TestSupport::writeFile(destination, "movie of " + source.toUtf8());
            progress->store(0.5);
            if (gated) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!gate.tryAcquire(1, 10)) {
                    if ((cancel->load() && !deaf) || std::chrono::steady_clock::now() > deadline)
                        return Failure{QStringLiteral("The export was cancelled.")};
                }
            }
            if (failing.contains(source))
                return Failure{QStringLiteral("\u201C%1\u201D couldn\u2019t be exported: boom")
                                   .arg(QFileInfo(source).fileName())};
            progress->store(1.0);
            return {};
        };
    }
};
