#pragma once

#include <QFuture>
#include <QMetaObject>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent>

#include <memory>
#include <type_traits>
#include <utility>

// The one way work leaves the GUI thread and its result comes back: `work` runs on `pool` (before queued
// work of a lower priority), then `deliver` gets its result on the receiver's thread. When the receiver is
// gone by then, the result is dropped. The returned future finishes after the delivery, or is cancelled
// when the result was dropped; never block the receiver's thread on it. Chain on it without a context
// object: the chained step then runs on the receiver's thread, and not at all after a drop.
namespace OffThread {

template <class Work, class Deliver>
QFuture<void> run(QThreadPool &pool, QObject *receiver, Work &&work, Deliver &&deliver, int priority = 0)
{
    using Value = std::invoke_result_t<Work>;
    auto delivered = std::make_shared<QPromise<void>>();
    QFuture<void> result = delivered->future();
    delivered->start();
    QPointer<QObject> alive(receiver);
    // Not `then(receiver, ...)`: that asserts when the receiver is gone before the work ends. Without a
    // context the step runs at once on this thread when the work is already done, so the delivery is
    // always queued: a caller never sees its result arrive before it returns.
    QtConcurrent::task(std::forward<Work>(work))
        .onThreadPool(pool)
        .withPriority(priority)
        .spawn()
        .then([alive, delivered, deliver = std::forward<Deliver>(deliver)](QFuture<Value> done) mutable {
            if (!alive)
                return; // the promise goes with this step: the future is cancelled
            if constexpr (std::is_void_v<Value>) {
                Q_UNUSED(done);
                QMetaObject::invokeMethod(
                    alive.data(),
                    [alive, delivered, deliver]() mutable {
                        if (alive)
                            deliver();
                        delivered->finish();
                    },
                    Qt::QueuedConnection);
            } else {
                auto value = std::make_shared<Value>(done.takeResult());
                QMetaObject::invokeMethod(
                    alive.data(),
                    [alive, delivered, deliver, value]() mutable {
                        if (alive)
                            deliver(std::move(*value));
                        delivered->finish();
                    },
                    Qt::QueuedConnection);
            }
        });
    return result;
}

} // namespace OffThread
