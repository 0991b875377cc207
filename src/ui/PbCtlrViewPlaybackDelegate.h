#pragma once

#include <cstdint>

namespace qr {

class PbCtlrView;

// Receiver of the controller bar's transport commands (1 play/pause, 2 next photo, 3 previous photo,
// 4 last photo, 5 first photo, 6 next set, 7 previous set).
class PbCtlrViewPlaybackDelegate {
public:
    virtual void toContainerVCFromPbCtlrView(PbCtlrView* sender, int32_t playbackNum) = 0;

protected:
    ~PbCtlrViewPlaybackDelegate() = default;
};

} // namespace qr
