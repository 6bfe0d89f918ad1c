#pragma once

#include "platform/LoneThreads.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <utility>

// Questions put to file systems that may never answer, asked again and again (is the volume there, is the
// folder a card): each runs on a thread of its own (LoneThreads), and one still pending under its key is not
// asked again, so a stuck file system holds one thread per question, not one per asking.
class QuestionPool {
public:
    explicit QuestionPool(QObject *owner) : m_threads(owner) {}

    // Runs `question` on a thread of its own and calls `answered` with its result on the owner's thread,
    // unless a question under `key` is still pending: false then.
    template <class Question, class Answered>
    bool ask(const QString &key, Question &&question, Answered &&answered)
    {
        if (m_pending.contains(key))
            return false;
        m_pending.insert(key);
        m_threads.run(std::forward<Question>(question),
                      [this, key, answered = std::forward<Answered>(answered)](auto answer) mutable {
                          m_pending.remove(key);
                          answered(std::move(answer));
                      });
        return true;
    }

    bool isPending(const QString &key) const { return m_pending.contains(key); }
    bool hasPending() const { return !m_pending.isEmpty(); }

private:
    QSet<QString> m_pending;
    LoneThreads m_threads; // last: no answer arrives once the pending keys are gone
};
