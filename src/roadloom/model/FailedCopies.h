#pragma once

#include "platform/Result.h"
#include "roadcore/CacheJob.h"

#include <QHash>
#include <QString>

#include <map>

// The copies that failed in a caching run, as the status line tells them. A camera's file name is one
// long word: put before the cause it takes the line's width and wraps the cause out of sight, so the
// summary gives the cause first, once for all the copies that failed for it ("3 copies couldn't be
// recorded: …"), and the files go to the detail.
class FailedCopies {
public:
    // A file that failed before counts once, as it failed last.
    void add(const CacheJob &job, const Failure &failure);
    void clear();
    bool isEmpty() const { return m_byOrder.empty(); }

    // A line for each cause, the latest first, up to `lines`; a failure without a cause is a line of its
    // own, its file's name and its message.
    QString summary(qsizetype lines = 3) const;
    // The failures in the order they came, a line each, up to `lines`, then how many more.
    QString detail(qsizetype lines = 10) const;

private:
    struct Failed {
        QString name;
        Failure failure;
        QString group() const; // the cause, or for a failure without one its line
        QString line() const;
    };
    struct Group {
        qsizetype count = 0;
        quint64 latest = 0;   // when one of its copies failed last
        bool isCause = false; // else the line of a failure without one
    };

    quint64 m_next = 0;
    std::map<quint64, Failed> m_byOrder;
    QHash<QString, quint64> m_orderOfFile; // by the job's key and channel
    QHash<QString, Group> m_groups;
};
