// libFuzzer target: every reader of JPEG and HEIC photos over arbitrary bytes, with the heap metered
// for each input: no decode may ever hold more than its memory budget.
#include "PlayerHarness.h"

#include <sanitizer/allocator_interface.h>

#include <atomic>

namespace {

std::atomic<bool> g_metering{false};
std::atomic<std::int64_t> g_inUse{0};
std::atomic<std::int64_t> g_peak{0};

void onMalloc(const volatile void*, std::size_t size)
{
    if (!g_metering.load(std::memory_order_relaxed))
        return;
    const std::int64_t now = g_inUse.fetch_add(std::int64_t(size)) + std::int64_t(size);
    std::int64_t seen = g_peak.load();
    while (now > seen && !g_peak.compare_exchange_weak(seen, now)) {
    }
}

void onFree(const volatile void* p)
{
    if (g_metering.load(std::memory_order_relaxed) && p)
        g_inUse.fetch_sub(std::int64_t(__sanitizer_get_allocated_size(const_cast<const void*>(p))));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Tiles on the calling thread: one input, one thread, a reproducible run.
    qr::PhotoDecoder::setHeicDecodingThreads(0);
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    g_inUse = 0;
    g_peak = 0;
    g_metering = true;
    qr::fuzz::photo(data, size);
    g_metering = false;
    // The budget, and room for the image kept and the libraries' own small state.
    qr::fuzz::require(g_peak.load() <= qr::PhotoDecoder::kMemoryBudget + (std::int64_t{32} << 20));
    return 0;
}
