#pragma once
// How the RTF fuzz target turns its bytes into the writer's arguments; shared with the tool that
// passes corpus files through a real RTF reader, so both see the same documents.
//
//   byte 0: low bit 0 = the rest is UTF-8 (invalid sequences become U+FFFD), 1 = the rest is
//           UTF-16 code units, little-endian (unpaired surrogates included); the other bits
//           give the font name's length (0..15 characters) taken from the front of the text
//   byte 1: the font size in pixels, as a signed byte

#include <QString>
#include <cstddef>
#include <cstdint>

namespace patrimonio::fuzz {

struct RtfInput {
    QString fontName;
    int pixelSize = 11;
    QString text;
};

inline RtfInput rtfInput(const std::uint8_t* data, std::size_t size) {
    RtfInput in;
    if (size < 2) {
        in.fontName = QStringLiteral("Tahoma");
        return in;
    }
    const bool utf16 = (data[0] & 1) != 0;
    const int fontLength = (data[0] >> 1) & 0x0F;
    in.pixelSize = static_cast<std::int8_t>(data[1]);
    const auto* rest = reinterpret_cast<const char*>(data + 2);
    const std::size_t restSize = size - 2;
    QString all;
    if (utf16) {
        for (std::size_t i = 0; i + 1 < restSize; i += 2)
            all += QChar(static_cast<char16_t>(static_cast<std::uint8_t>(rest[i]) |
                                               static_cast<std::uint8_t>(rest[i + 1]) << 8));
    } else {
        all = QString::fromUtf8(rest, static_cast<qsizetype>(restSize));
    }
    in.fontName = all.left(fontLength);
    in.text = all.mid(fontLength);
    return in;
}

}  // namespace patrimonio::fuzz
