#include "platform/FileCopy.h"
#include "platform/UniqueFd.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

QByteArray bytes(qsizetype size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        out[i] = char(state >> 24);
    }
    return out;
}

UniqueFd openForReading(const QString &path)
{
    return UniqueFd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
}

UniqueFd create(const QString &path)
{
    return UniqueFd(
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
}

const auto always = [] { return true; };

TEST(FileCopy, CopiesWholeFilesWithinAndAcrossFileSystems)
{
    QTemporaryDir disk;
    // Another file system, where the kernel will not copy across: the reads and writes take over.
    QTemporaryDir memory(QStringLiteral("/dev/shm/roadloom-test-XXXXXX"));
    QStringList sources{disk.path()};
    if (memory.isValid())
        sources.append(memory.path());
    // Sizes around the kernel's and the buffer's blocks.
    const qsizetype sizes[] = {0, 1, (1 << 20) + 3, (8 << 20) + 5};
    int n = 0;
    for (const QString &from : sources)
        for (const qsizetype size : sizes) {
            SCOPED_TRACE(testing::Message() << from.toStdString() << " " << size);
            const QByteArray content = bytes(size, ++n);
            const QString source = from + QString("/source-%1").arg(n);
            const QString target = disk.filePath(QString("target-%1").arg(n));
            writeFile(source, content);
            const UniqueFd in = openForReading(source), out = create(target);
            const FileCopy::Outcome outcome = FileCopy::copy(in.get(), out.get(), always);
            EXPECT_EQ(outcome.bytes, size);
            EXPECT_EQ(outcome.error, 0);
            EXPECT_FALSE(outcome.stopped);
            EXPECT_TRUE(readFile(target) == content);
            EXPECT_EQ(FileCopy::compare(openForReading(source).get(), openForReading(target).get(), always),
                      FileCopy::Comparison::equal);
        }
}

TEST(FileCopy, ComparesEveryByte)
{
    QTemporaryDir disk;
    const QByteArray base = bytes(3 << 20, 7);
    QByteArray lastByte = base, middle = base;
    lastByte[lastByte.size() - 1] = char(lastByte.back() ^ 1);
    middle[(3 << 20) / 2] = char(middle[(3 << 20) / 2] ^ 0x80);
    const struct {
        const char *what;
        QByteArray other;
        FileCopy::Comparison expected;
    } rows[] = {
        {"same", base, FileCopy::Comparison::equal},
        {"last byte", lastByte, FileCopy::Comparison::different},
        {"middle", middle, FileCopy::Comparison::different},
        {"shorter", base.left(base.size() - 1), FileCopy::Comparison::different},
        {"empty", {}, FileCopy::Comparison::different},
    };
    writeFile(disk.filePath("base"), base);
    for (const auto &row : rows) {
        writeFile(disk.filePath(row.what), row.other);
        EXPECT_EQ(FileCopy::compare(openForReading(disk.filePath("base")).get(),
                                    openForReading(disk.filePath(row.what)).get(), always),
                  row.expected)
            << row.what;
    }
    EXPECT_EQ(FileCopy::compare(openForReading(disk.filePath("base")).get(),
                                openForReading(disk.filePath("same")).get(), [] { return false; }),
              FileCopy::Comparison::stopped);
    EXPECT_EQ(FileCopy::compare(-1, openForReading(disk.filePath("base")).get(), always),
              FileCopy::Comparison::failed);
}

} // namespace
