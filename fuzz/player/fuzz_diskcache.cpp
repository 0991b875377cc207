// libFuzzer target: the display-copy cache's reader over arbitrary and damaged entries.
#include "PlayerHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qr::fuzz::diskCacheEntry(data, size);
    return 0;
}
