#include "decode/KroxWriter.h"

namespace qr {

void KroxWriter::putBe32(QByteArray& out, qsizetype offset, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[offset + i] = char((v >> (24 - 8 * i)) & 0xFF);
}

std::uint32_t KroxWriter::tableEntry(int type, std::uint32_t length)
{
    return (std::uint32_t(type & 0xF) << 28) | (length & 0x0FFFFFFFu);
}

QByteArray KroxWriter::build(int setNumber, int firstPhoto, const QList<Entry>& entries,
                             std::uint8_t versionMajor, std::uint8_t versionMinor)
{
    qsizetype body = 0;
    for (const Entry& e : entries)
        body += e.payload.size() + e.payload.size() % 4;
    QByteArray out(kTableOffset + 4 * entries.size(), '\0');
    out[0] = char(versionMajor);
    out[1] = char(versionMinor);
    out[3] = char((setNumber >> 8) & 0xFF);
    out[kCountOffset] = char(entries.size() & 0xFF);
    out[5] = char(setNumber & 0xFF);
    out[6] = char(firstPhoto & 0xFF);
    putBe32(out, kPayloadBytesOffset, std::uint32_t(body));
    for (qsizetype i = 0; i < entries.size(); ++i)
        putBe32(out, kTableOffset + 4 * i,
                tableEntry(entries[i].type, std::uint32_t(entries[i].payload.size())));
    out.reserve(out.size() + body);
    for (const Entry& e : entries) {
        out.append(e.payload);
        out.append(QByteArray(e.payload.size() % 4, '\0')); // the gap after a payload is its length mod 4
    }
    return out;
}

} // namespace qr
