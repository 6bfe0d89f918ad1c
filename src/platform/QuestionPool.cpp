#include "platform/QuestionPool.h"

#include <system_error>
#include <thread>

namespace {

// Every question may be stuck at once without keeping a later one from starting: the keys bound how many.
constexpr int mostThreads = 4096;

} // namespace

QuestionPool::QuestionPool(QObject *owner)
{
    m_inbox->owner = owner;
    m_inbox->pool = this;
    m_pool->setMaxThreadCount(mostThreads);
}

QuestionPool::~QuestionPool()
{
    {
        std::lock_guard lock(m_inbox->mutex);
        m_inbox->owner = nullptr;
    }
    if (m_pool->waitForDone(0))
        return;
    // A question its file system holds keeps its thread, and that thread the pool: both are let go, and
    // freed by a thread of their own once the file system answers.
    QThreadPool *left = m_pool.release();
    try {
        std::thread([left] {
            left->waitForDone();
            delete left;
        }).detach();
    } catch (const std::system_error &) {
        // No thread to wait with: the pool stays for the rest of the run.
    }
}
