#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QIODevice;

// Positioned reads of a file (or of bytes in memory) that never map it: a card pulled during a read gives a
// read error and a short result, never a crash. Small reads are served from one cached block, so walking
// many chunk headers costs few system calls. Not thread-safe; one reader per walk.
class ByteSource {
public:
    // Nothing when the file cannot be opened for reading or is not a regular file.
    static std::unique_ptr<ByteSource> openFile(const QString &path);
    explicit ByteSource(QByteArray bytes);
    ~ByteSource();
    ByteSource(const ByteSource &) = delete;
    ByteSource &operator=(const ByteSource &) = delete;

    qint64 size() const { return m_size; }
    // Up to `length` bytes at `offset`: fewer at the end of the source, none outside it or after a read
    // error. Never allocates more than the source holds.
    QByteArray read(qint64 offset, qint64 length);
    // A read or seek failed; every later read gives nothing.
    bool failed() const { return m_failed; }

private:
    explicit ByteSource(std::unique_ptr<QIODevice> device, qint64 size);
    QByteArray readDevice(qint64 offset, qint64 length);

    std::unique_ptr<QIODevice> m_device;
    QByteArray m_memory;
    qint64 m_size = 0;
    bool m_failed = false;
    QByteArray m_block;
    qint64 m_blockOffset = -1;
};
