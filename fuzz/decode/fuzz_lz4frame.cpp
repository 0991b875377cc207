// libFuzzer target: the framed LZ4 decoder over arbitrary bytes and output capacities.
#include "DecodeHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qr::fuzz::lz4Frame(data, size);
    return 0;
}
