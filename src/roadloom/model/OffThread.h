#pragma once

#include <QFuture>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <type_traits>
#include <utility>

// The one way work leaves the GUI thread and its result comes back: `work` runs on `pool` (before queued
// work of a lower priority), then `deliver` gets its result on the receiver's thread. When the receiver is
// gone by then, the result is dropped. The returned future finishes after the delivery (or the drop); never
// block the receiver's thread on it.
namespace OffThread {

template <class Work, class Deliver>
QFuture<void> run(QThreadPool &pool, QObject *receiver, Work &&work, Deliver &&deliver, int priority = 0)
{
    using Value = std::invoke_result_t<Work>;
    QPointer<QObject> alive(receiver);
    QFuture<Value> future =
        QtConcurrent::task(std::forward<Work>(work)).onThreadPool(pool).withPriority(priority).spawn();
    if constexpr (std::is_void_v<Value>) {
        return future.then(receiver, [alive, deliver = std::forward<Deliver>(deliver)]() mutable {
            if (alive)
                deliver();
        });
    } else {
        return future.then(receiver,
                           [alive, deliver = std::forward<Deliver>(deliver)](QFuture<Value> done) mutable {
                               // Taken, not copied: a copy would share the value with the future.
                               if (alive)
                                   deliver(done.takeResult());
                           });
    }
}

} // namespace OffThread
