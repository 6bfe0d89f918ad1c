#include "platform/ByteSource.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QTemporaryDir>

// The file reader and the in-memory reader answer every read exactly as slicing the bytes would, across
// the cached block's edges and the end of the file.
TEST(ByteSource, readsAgreeWithTheBytes)
{
    QByteArray bytes(3 * 4096 + 123, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 256);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    TestSupport::writeFile(path, bytes);

    const auto file = ByteSource::openFile(path);
    ASSERT_TRUE(file);
    ByteSource memory(bytes);
    EXPECT_EQ(file->size(), bytes.size());
    EXPECT_EQ(memory.size(), bytes.size());

    const std::pair<qint64, qint64> fixed[] = {
        {0, 8},
        {4090, 16},
        {4096, 1},
        {0, 5000},
        {bytes.size() - 3, 16},
        {bytes.size(), 1},
        {-1, 4},
        {10, 0},
        {10, -5},
        {8000, 200},
        {0, bytes.size() + 1},
        {qint64(1) << 62, 8},
        {5, qint64(1) << 62},
    };
    for (const auto &[offset, length] : fixed) {
        const QByteArray expected = offset < 0 || length <= 0 ? QByteArray() : bytes.mid(offset, length);
        EXPECT_EQ(file->read(offset, length), expected) << offset << " " << length;
        EXPECT_EQ(memory.read(offset, length), expected) << offset << " " << length;
    }
    QRandomGenerator random(42);
    for (int i = 0; i < 2000; ++i) {
        const qint64 offset = random.bounded(int(bytes.size()) + 10);
        const qint64 length = random.bounded(1, 9000);
        ASSERT_EQ(file->read(offset, length), bytes.mid(offset, length)) << offset << " " << length;
    }
    EXPECT_FALSE(file->failed());

    EXPECT_FALSE(ByteSource::openFile(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(ByteSource::openFile(dir.path()));
}
