// Message reassembly and header parsing: the bytes after the first are cut into chunks whose sizes
// come from the first byte's seed; every complete small frame is also decoded.

#include "mvc/MvcFrameDecoder.h"
#include "mvc/MvcMessageAssembler.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::uint32_t seed = data[0] * 2654435761U + 1;
    ++data;
    --size;
    constexpr std::uint32_t kMaxPayload = 1 << 16;
    qr::MvcMessageAssembler assembler(kMaxPayload);
    qr::MvcFrameDecoder decoder;
    std::size_t at = 0;
    while (at < size) {
        seed = seed * 1103515245U + 12345U;
        const std::size_t n = std::min<std::size_t>(size - at, 1 + (seed >> 16) % 97);
        assembler.append(QByteArrayView(reinterpret_cast<const char*>(data + at), qsizetype(n)));
        at += n;
        qr::MvcMessageAssembler::Message m;
        for (;;) {
            const auto r = assembler.next(m);
            if (r != qr::MvcMessageAssembler::Result::Message)
                break;
            if (m.header.isCloseRequest()) {
                assembler.reset();
                continue;
            }
            if (qsizetype(m.header.mvcLen) != m.payload.size())
                std::abort();
            if (std::uint32_t(m.header.width) * m.header.height <= 64 * 64)
                decoder.decode(m.header, m.payload);
        }
        // What is held never exceeds one payload and the latest chunk.
        if (assembler.bufferedBytes() > qsizetype(kMaxPayload) + qsizetype(n) + 16)
            std::abort();
    }
    return 0;
}
