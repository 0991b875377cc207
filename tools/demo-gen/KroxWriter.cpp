#include "KroxWriter.h"

namespace qr {

namespace {
void appendBe32(QByteArray& out, std::uint32_t v)
{
    const char b[4] = {char((v >> 24) & 0xff), char((v >> 16) & 0xff), char((v >> 8) & 0xff), char(v & 0xff)};
    out.append(b, 4);
}
} // namespace

QByteArray KroxWriter::build(int setNumber, int firstPhoto, const QList<Entry>& entries,
                             std::uint8_t versionMajor, std::uint8_t versionMinor)
{
    QByteArray body;
    for (const Entry& e : entries) {
        body.append(e.payload);
        body.append(QByteArray(e.payload.size() % 4, '\0')); // the gap after a payload is L mod 4
    }
    QByteArray out;
    out.append(char(versionMajor));
    out.append(char(versionMinor));
    out.append('\0');
    out.append(char((setNumber >> 8) & 0xff));
    out.append(char(entries.size()));
    out.append(char(setNumber & 0xff));
    out.append(char(firstPhoto & 0xff));
    out.append('\0');
    appendBe32(out, std::uint32_t(body.size()));
    for (const Entry& e : entries)
        appendBe32(out,
                   (std::uint32_t(e.type & 0xf) << 28) | (std::uint32_t(e.payload.size()) & 0x0fffffffu));
    out.append(body);
    return out;
}

} // namespace qr
