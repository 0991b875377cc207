#pragma once

#include "mvc/MvcRxSlot.h"
#include "platform/ConnectionState.h"

#include <array>
#include <cstdint>
#include <optional>

namespace qr {

enum class MvcIndicatorColour { Grey, Yellow, Green, Red, Orange };

// The slot rules of the master: which slot a new connection takes, the dual-stack duplicate rule,
// and each slot's reaction to connection states. Plain data; the caller supplies the time.
class MvcSlotTable {
public:
    static constexpr int kSlots = 3;
    // Two new connections closer together than this are one dual-stack race: the second is dropped.
    static constexpr std::int64_t kDuplicateGapNs = 1'000'000;

    struct IndicatorPaint {
        int view = 0; // 0, 1, 2: indicator of display position 1, 2, 3
        MvcIndicatorColour colour = MvcIndicatorColour::Grey;
    };

    // Chooses the slot (0 to 2) of a connection that arrived at nowNs (a monotonic clock) from a peer
    // of `addressFamily` (4, 6, or 0 when unknown), or -1 when the connection is to be dropped. The
    // chosen slot starts over: not ready, no messages.
    //
    // A connection less than 1 ms after the previous one is the loser of one phone's dual-stack race
    // and is dropped, unless both came over the same address family: connections accepted in one
    // batch after a busy moment are close together in time yet come from different phones.
    int assignNewConnection(std::int64_t nowNs, int addressFamily = 0);

    // Applies a reported connection state to the slot; returns the indicator to paint, if any.
    std::optional<IndicatorPaint> connectionStateChanged(int slot, int state);
    // A header named `viewIndex` for the slot. When that moves the slot to another position, the
    // indicator there takes the slot's current colour (the state reported before the first header
    // painted position 1).
    std::optional<IndicatorPaint> viewIndexChanged(int slot, int viewIndex);

    const MvcRxSlot& slot(int index) const { return m_slots.at(std::size_t(index)); }
    MvcRxSlot& slot(int index) { return m_slots.at(std::size_t(index)); }
    std::int32_t happyEyeballsCntr() const { return m_happyEyeballsCntr; }

    static std::array<float, 3> rgb(MvcIndicatorColour colour);

private:
    std::array<MvcRxSlot, kSlots> m_slots{};
    std::optional<std::int64_t> m_rxdNewConnectionTimestamp;
    int m_lastAddressFamily = 0;
    std::int32_t m_happyEyeballsCntr = 0;
};

} // namespace qr
