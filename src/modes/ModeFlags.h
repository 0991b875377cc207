#pragma once

namespace qr {

// The run's mode, fixed by the start-up chooser and the dialog that follows it.
struct ModeFlags {
    bool _appGroupSharingEn = false; // companion mode chosen
    bool _mvcMasterEn = false;       // Multi View Capture chosen
    bool _mvcModeEn = false;         // Multi View Capture confirmed
    bool _mediaPlayerModeEn = false; // media player confirmed
    bool _appleSiMacEn = false;      // the processor is Apple silicon
};

} // namespace qr
