#pragma once

#include "mvc/MvcRxSlot.h"
#include "platform/ConnectionState.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qr {

enum class MvcIndicatorColour { Grey, Yellow, Green, Red, Orange };

// The slot rules of the master: which slot a new connection takes, the dual-stack duplicate rule,
// and each slot's reaction to connection states. Plain data; the caller supplies the time.
class MvcSlotTable {
public:
    static constexpr int kSlots = 3;
    // Two new connections closer together than this are one connection race: the second is dropped.
    static constexpr std::int64_t kDuplicateGapNs = 1'000'000;

    struct IndicatorPaint {
        int view = 0; // 0, 1, 2: indicator of display position 1, 2, 3
        MvcIndicatorColour colour = MvcIndicatorColour::Grey;
    };

    // Where a new connection came from.
    struct Peer {
        int family = 0;   // 4, 6, or 0 when unknown
        std::string host; // identifies the peer's host (see MvcMaster); empty when unknown
    };

    // Chooses the slot (0 to 2) of a connection that arrived at nowNs (a monotonic clock) from `peer`,
    // or -1 when the connection is to be dropped. The chosen slot starts over: not ready, no
    // messages.
    //
    // A connection less than 1 ms after the previous one is the loser of one phone's connection race
    // (IPv4 against IPv6, or two addresses of one family) and is dropped, unless the two are known to
    // come from different hosts over one address family: connections accepted in one batch after a
    // busy moment are close together in time yet come from different phones.
    int assignNewConnection(std::int64_t nowNs, const Peer& peer);
    int assignNewConnection(std::int64_t nowNs) { return assignNewConnection(nowNs, Peer()); }

    // Applies a reported connection state to the slot; returns the indicator to paint, if any. A
    // slot paints only an indicator that no other slot owns: the loser of a connection race sits at
    // view index 0 and must not paint over the winner streaming to position 1. A connection that
    // failed or was cancelled has ended: its slot may be given away and its positions are free.
    std::optional<IndicatorPaint> connectionStateChanged(int slot, int state);
    // A header named `viewIndex` for the slot. A position belongs to the connection that first named
    // it until that connection ends: its indicator, its pictures and its shutter. When the slot
    // moves to a position it owns or takes a free one, the indicator takes the slot's current colour
    // (a state reported before the first header may have painted it for another).
    std::optional<IndicatorPaint> viewIndexChanged(int slot, int viewIndex);
    // The slot (0 to 2) whose connection owns position `view` (0 to 2); -1 = none.
    int positionOwner(int view) const { return m_positionOwner.at(std::size_t(view)); }

    const MvcRxSlot& slot(int index) const { return m_slots.at(std::size_t(index)); }
    MvcRxSlot& slot(int index) { return m_slots.at(std::size_t(index)); }
    std::int32_t happyEyeballsCntr() const { return m_happyEyeballsCntr; }

    static std::array<float, 3> rgb(MvcIndicatorColour colour);

private:
    std::array<MvcRxSlot, kSlots> m_slots{};
    void releasePositions(int slot);

    // Slot (0 to 2) whose current connection first named each position in a header; -1 = none.
    std::array<int, kSlots> m_positionOwner{-1, -1, -1};
    std::optional<std::int64_t> m_rxdNewConnectionTimestamp;
    Peer m_lastPeer;
    std::int32_t m_happyEyeballsCntr = 0;
};

} // namespace qr
