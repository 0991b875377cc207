#pragma once

#include "player/TransportCommand.h"

namespace qr {

class PbCtlrView;

// Receiver of the controller bar's transport commands.
class PbCtlrViewPlaybackDelegate {
public:
    virtual void toContainerVCFromPbCtlrView(PbCtlrView* sender, TransportCommand command) = 0;

protected:
    ~PbCtlrViewPlaybackDelegate() = default;
};

} // namespace qr
