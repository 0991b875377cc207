#include "mvc/MvcSlotTable.h"

namespace qr {

int MvcSlotTable::assignNewConnection(std::int64_t nowNs, const Peer& peer)
{
    const bool otherHost = peer.family != 0 && peer.family == m_lastPeer.family && !peer.host.empty() &&
                           !m_lastPeer.host.empty() && peer.host != m_lastPeer.host;
    const bool duplicate =
        m_rxdNewConnectionTimestamp && nowNs - *m_rxdNewConnectionTimestamp < kDuplicateGapNs && !otherHost;
    m_rxdNewConnectionTimestamp = nowNs;
    m_lastPeer = peer;
    if (duplicate) {
        ++m_happyEyeballsCntr;
        return -1;
    }
    int chosen = -1;
    for (int k = 0; k < kSlots && chosen < 0; ++k) {
        if (!m_slots[std::size_t(k)].filled)
            chosen = k;
    }
    if (chosen == 0)
        m_happyEyeballsCntr = 0;
    if (chosen < 0) {
        for (int k = 0; k < kSlots && chosen < 0; ++k) {
            if (m_slots[std::size_t(k)].waitingForRestart)
                chosen = k;
        }
    }
    if (chosen < 0)
        return -1;
    releasePositions(chosen);
    MvcRxSlot& s = m_slots[std::size_t(chosen)];
    s.filled = true;
    s.waitingForRestart = false;
    s.ready = false;
    s.cntr = 0;
    s.paintedState = 0;
    return chosen;
}

std::optional<MvcSlotTable::IndicatorPaint> MvcSlotTable::connectionStateChanged(int slotIndex, int state)
{
    MvcRxSlot& s = slot(slotIndex);
    s.ready = false;
    std::optional<MvcIndicatorColour> colour;
    switch (static_cast<ConnectionState>(state)) {
    case ConnectionState::Waiting:
        colour = MvcIndicatorColour::Yellow;
        break;
    case ConnectionState::Preparing:
        break;
    case ConnectionState::Ready:
        s.ready = true;
        colour = MvcIndicatorColour::Green;
        break;
    case ConnectionState::Failed:
        // The connection is gone for good; the slot must not stay lost with it.
        s.waitingForRestart = true;
        colour = MvcIndicatorColour::Red;
        break;
    case ConnectionState::Cancelled:
        s.waitingForRestart = true;
        colour = MvcIndicatorColour::Orange;
        break;
    }
    if (!colour)
        return std::nullopt;
    s.paintedState = state;
    std::optional<IndicatorPaint> paint;
    if (s.viewIndex >= 0 && s.viewIndex < kSlots) {
        const int owner = m_positionOwner[std::size_t(s.viewIndex)];
        if (owner < 0 || owner == slotIndex)
            paint = IndicatorPaint{s.viewIndex, *colour};
    }
    if (s.waitingForRestart)
        releasePositions(slotIndex);
    return paint;
}

void MvcSlotTable::releasePositions(int slotIndex)
{
    for (int& owner : m_positionOwner) {
        if (owner == slotIndex)
            owner = -1;
    }
}

std::optional<MvcSlotTable::IndicatorPaint> MvcSlotTable::viewIndexChanged(int slotIndex, int viewIndex)
{
    MvcRxSlot& s = slot(slotIndex);
    const bool moved = s.viewIndex != viewIndex;
    s.viewIndex = viewIndex;
    if (viewIndex < 0 || viewIndex >= kSlots)
        return std::nullopt;
    int& owner = m_positionOwner[std::size_t(viewIndex)];
    if (owner >= 0 && owner != slotIndex)
        return std::nullopt; // another connection holds the position
    // A connection that has ended claims nothing.
    if (s.waitingForRestart)
        return std::nullopt;
    const bool claimed = owner != slotIndex;
    owner = slotIndex;
    if (!moved && !claimed)
        return std::nullopt;
    switch (static_cast<ConnectionState>(s.paintedState)) {
    case ConnectionState::Waiting:
        return IndicatorPaint{viewIndex, MvcIndicatorColour::Yellow};
    case ConnectionState::Ready:
        return IndicatorPaint{viewIndex, MvcIndicatorColour::Green};
    case ConnectionState::Failed:
        return IndicatorPaint{viewIndex, MvcIndicatorColour::Red};
    case ConnectionState::Cancelled:
        return IndicatorPaint{viewIndex, MvcIndicatorColour::Orange};
    default:
        return std::nullopt;
    }
}

std::array<float, 3> MvcSlotTable::rgb(MvcIndicatorColour colour)
{
    switch (colour) {
    case MvcIndicatorColour::Yellow:
        return {1.0F, 1.0F, 0.0F};
    case MvcIndicatorColour::Green:
        return {0.0F, 1.0F, 0.0F};
    case MvcIndicatorColour::Red:
        return {1.0F, 0.0F, 0.0F};
    case MvcIndicatorColour::Orange:
        return {1.0F, 0.5F, 0.0F};
    case MvcIndicatorColour::Grey:
        break;
    }
    return {128.0F / 255.0F, 128.0F / 255.0F, 128.0F / 255.0F};
}

} // namespace qr
