#pragma once

#include "platform/FileSystemWork.h"

#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

// Questions put to file systems that may never answer (a pulled card reader, a network share that went to
// sleep): each runs on a thread of its own, so that a stuck one holds nothing but its thread; a question
// still pending under its key is not asked again, and each answer arrives on the owner's thread as it comes.
// The owner keeps the pool as a member; answers that arrive after it are dropped.
class QuestionPool {
public:
    explicit QuestionPool(QObject *owner);
    ~QuestionPool();
    QuestionPool(const QuestionPool &) = delete;
    QuestionPool &operator=(const QuestionPool &) = delete;

    // Runs `question` on a thread of the pool and calls `answered` with its result on the owner's thread,
    // unless a question under `key` is still pending: false then.
    template <class Question, class Answered>
    bool ask(const QString &key, Question &&question, Answered &&answered)
    {
        if (m_pending.contains(key))
            return false;
        m_pending.insert(key);
        using Answer = std::invoke_result_t<Question>;
        auto running = std::make_shared<FileSystemWork::Running>();
        m_pool->start([inbox = m_inbox, key, question = std::forward<Question>(question),
                       answered = std::forward<Answered>(answered), running]() mutable {
            Answer answer = question();
            running.reset();
            // Posted under the lock, so never to an owner that is going: its destruction drops the post.
            std::lock_guard lock(inbox->mutex);
            if (!inbox->owner)
                return;
            QMetaObject::invokeMethod(
                inbox->owner,
                [inbox, key, answered, answer = std::move(answer)]() mutable {
                    inbox->pool->m_pending.remove(key);
                    answered(std::move(answer));
                },
                Qt::QueuedConnection);
        });
        return true;
    }

    bool isPending(const QString &key) const { return m_pending.contains(key); }
    bool hasPending() const { return !m_pending.isEmpty(); }
    // Waits up to `ms` for the questions under way: for the quit only.
    bool waitForDone(int ms) { return m_pool->waitForDone(ms); }

private:
    struct Inbox {
        std::mutex mutex;
        QObject *owner = nullptr;
        QuestionPool *pool = nullptr;
    };
    std::shared_ptr<Inbox> m_inbox = std::make_shared<Inbox>();
    QSet<QString> m_pending;
    std::unique_ptr<QThreadPool> m_pool = std::make_unique<QThreadPool>();
};
