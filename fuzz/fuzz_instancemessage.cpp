// The `roadloom` command's reading of its arguments: never crashes, every path it makes is absolute and
// clean, and the message it sends of them is byte for byte what Qt writes for the text Qt reads from them.
#include "platform/InstanceMessage.h"

#include <QDataStream>
#include <QIODevice>
#include <QStringList>
#include <QtEndian>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments as the kernel hands them over: NUL-separated bytes.
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(char(data[i]));
    }
    const std::vector<std::string> paths = InstanceMessage::absolutePaths(arguments, "/work dir");
    for (const std::string &path : paths) {
        if (path.empty() || path.front() != '/' || (path.size() > 1 && path.back() == '/') ||
            path.find("//") != std::string::npos || path.find("/./") != std::string::npos ||
            path.find("/../") != std::string::npos || path.ends_with("/.") || path.ends_with("/.."))
            std::abort();
    }

    // What is sent: the paths, each starting with '/' (Qt's reading would drop a byte-order mark in front).
    QStringList texts;
    for (const std::string &path : paths)
        texts.append(QString::fromUtf8(path.data(), qsizetype(path.size())));
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    // Qt writes a null string unlike an empty one; an argument is never null.
    for (QString &text : texts)
        if (text.isNull())
            text = QStringLiteral("");
    stream << texts;
    QByteArray expected(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), expected.data());
    expected += body;
    if (QByteArray::fromStdString(InstanceMessage::encode(paths)) != expected)
        std::abort();
    return 0;
}
