#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <ctime>

// Watches the GUI thread for stalls: a timer due every millisecond notes how late each turn of the event
// loop came. A gap over the limit is a stall the user would feel (a frame or a click held back).
class GuiStallProbe : public QObject {
public:
    explicit GuiStallProbe(qint64 limitMs = 50, QObject *parent = nullptr) : QObject(parent), m_limit(limitMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuMs();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    // The longest gap between two turns, in milliseconds, and the gaps over the limit.
    qint64 longestGap() const { return m_longest; }
    // The GUI thread's own processor time in the longest gap: far below the gap, the thread was waiting
    // for a processor (a loaded machine) or for something else, not working.
    double longestGapCpuMs() const { return m_longestCpu; }
    int stalls() const { return m_stalls; }
    // Each stall: when it ended (milliseconds since the epoch) and how long it was.
    QList<std::pair<qint64, qint64>> where() const { return m_where; }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        const qint64 gap = now - m_last;
        const double cpu = threadCpuMs();
        m_last = now;
        if (gap > m_longest) {
            m_longest = gap;
            m_longestCpu = cpu - m_lastCpu;
        }
        m_lastCpu = cpu;
        if (gap > m_limit) {
            ++m_stalls;
            m_where.append({QDateTime::currentMSecsSinceEpoch(), gap});
        }
    }

    static double threadCpuMs()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }

    qint64 m_limit;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    double m_lastCpu = 0;
    double m_longestCpu = 0;
    int m_stalls = 0;
    QList<std::pair<qint64, qint64>> m_where;
};
