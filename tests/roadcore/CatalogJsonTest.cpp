#include "roadcore/CatalogJson.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

namespace {

TEST(CatalogJson, DecodesBase64AsQtDoesWhateverItsCharactersAndPadding)
{
    // Random bytes encoded, and texts of four-character groups mixing the alphabet, padding and other
    // characters anywhere: the bytes and the verdict are Qt's own decoder's.
    QRandomGenerator random(44);
    const QByteArray characters("AZaz09+/=-_ .\n\0\x80\xff", 17);
    QByteArray out = "room kept from before";
    for (int round = 0; round < 4000; ++round) {
        QByteArray text;
        if (round % 2 == 0) {
            QByteArray bytes(round % 23, Qt::Uninitialized);
            for (char &c : bytes)
                c = char(random.bounded(256));
            text = bytes.toBase64();
            if (round % 4 == 0 && !text.isEmpty())
                text[random.bounded(int(text.size()))] = characters[random.bounded(int(characters.size()))];
        } else {
            text.resize(4 * random.bounded(1, 5));
            for (char &c : text)
                c = random.bounded(3) ? "QUJDx+/9"[random.bounded(8)]
                                      : characters[random.bounded(int(characters.size()))];
        }
        const auto qt = QByteArray::fromBase64Encoding(text, QByteArray::Base64Encoding |
                                                                 QByteArray::AbortOnBase64DecodingErrors);
        const bool read = CatalogJson::decodeBase64(text, out);
        ASSERT_EQ(read, qt.decodingStatus == QByteArray::Base64DecodingStatus::Ok) << text.toStdString();
        if (read) {
            ASSERT_EQ(out, qt.decoded) << text.toStdString();
        }
    }
    // A length that is no multiple of four is no bookmark, whatever Qt would make of it.
    EXPECT_FALSE(CatalogJson::decodeBase64("QUI", out));
    EXPECT_TRUE(CatalogJson::decodeBase64("", out));
    EXPECT_TRUE(out.isEmpty());
}

} // namespace
