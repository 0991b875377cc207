// libFuzzer target: the framed LZ4 decoder fed piece by piece, as the pass feeds it from a file.
#include "DecodeHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qr::fuzz::lz4Pieces(data, size);
    return 0;
}
