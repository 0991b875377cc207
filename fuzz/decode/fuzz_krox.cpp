// libFuzzer target: the container parser and the unpacking into a scratch folder over arbitrary
// bytes.
#include "DecodeHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qr::fuzz::kroxParse(data, size);
    qr::fuzz::kroxUnpack(data, size);
    return 0;
}
