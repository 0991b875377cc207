// libFuzzer target: message reassembly and header parsing.

#include "MvcHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qr::fuzz::mvcFraming(data, size);
    return 0;
}
