#pragma once

#include "platform/FileSystemWork.h"

#include <QFuture>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QPromise>

#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

// Questions to a user's file system, which may never answer (a pulled card, a network share gone to
// sleep): each call runs on a thread of its own that nobody waits for, so a stuck one holds nothing but
// itself. Its answer is delivered on the owner's thread, or dropped once the owner is gone. Declare it
// after what the deliveries use: its end is where they stop arriving.
class LoneThreads {
public:
    explicit LoneThreads(QObject *owner) : m_shared(std::make_shared<Shared>(owner)) {}
    ~LoneThreads()
    {
        // A thread that answers later finds no owner; a delivery queued before goes with the owner's events.
        QMutexLocker lock(&m_shared->mutex);
        m_shared->owner = nullptr;
    }
    LoneThreads(const LoneThreads &) = delete;
    LoneThreads &operator=(const LoneThreads &) = delete;

    // `work` runs on a new thread (in place when none can start), then `deliver` gets its result on the
    // owner's thread, always after this returns. The future finishes after the delivery, or is cancelled
    // when the answer was dropped; never block the owner's thread on it.
    template <class Work, class Deliver> QFuture<void> run(Work work, Deliver deliver)
    {
        using Value = std::invoke_result_t<Work &>;
        static_assert(!std::is_void_v<Value>, "the work answers something");
        auto delivered = std::make_shared<QPromise<void>>();
        QFuture<void> future = delivered->future();
        delivered->start();
        // Shared, so that it is still here to run in place when the thread cannot start.
        auto task = std::make_shared<std::function<void()>>(
            [shared = m_shared, work = std::move(work), deliver = std::move(deliver), delivered,
             running = std::make_shared<FileSystemWork::Running>()]() mutable {
                auto value = std::make_shared<Value>(work());
                running.reset();
                QMutexLocker lock(&shared->mutex);
                if (!shared->owner)
                    return; // the promise goes with the last copy: the future is cancelled
                QMetaObject::invokeMethod(
                    shared->owner,
                    [deliver = std::move(deliver), value, delivered]() mutable {
                        deliver(std::move(*value));
                        delivered->finish();
                    },
                    Qt::QueuedConnection);
            });
        try {
            std::thread([task] { (*task)(); }).detach();
        } catch (const std::system_error &) {
            (*task)();
        }
        return future;
    }

private:
    struct Shared {
        explicit Shared(QObject *o) : owner(o) {}
        QMutex mutex;
        QObject *owner;
    };
    std::shared_ptr<Shared> m_shared;
};
