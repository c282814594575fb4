#include "profiles/ansitext.h"

#include <QByteArray>
#include <QStringDecoder>

#include <array>
#include <cstdint>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five holes map
// to the C1 controls as Windows itself does when converting.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string FromCp1252(const std::string& bytes)
{
    QString text;
    text.reserve(qsizetype(bytes.size()));
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x80 && b < 0xA0)
            text.append(QChar(kCp1252High[b - 0x80]));
        else
            text.append(QChar(char16_t(b)));
    }
    return text.toStdString();
}

} // namespace

std::string AnsiOrUtf8ToUtf8(const std::string& bytes)
{
    std::string body = bytes;
    if (body.size() >= 3 && body.compare(0, 3, "\xEF\xBB\xBF") == 0)
        body.erase(0, 3);

    // Stateless, so that a sequence cut off at the end counts as an error too.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString checked = utf8.decode(QByteArray::fromRawData(body.data(), qsizetype(body.size())));
    if (!utf8.hasError())
        return body;
    return FromCp1252(body);
}
