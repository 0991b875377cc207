// libFuzzer target: the mDNS packet parser and the responder's answers.

#include "MvcHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qr::fuzz::mdnsPacket(data, size);
    return 0;
}
