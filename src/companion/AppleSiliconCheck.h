#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qr {

// Whether the processor is Apple silicon, for a native process as well as a translated one.
class AppleSiliconCheck {
public:
    // The system's answers; nullopt where the call failed or does not exist on this system.
    struct Probe {
        std::optional<std::string> machine;    // uname's machine field
        std::optional<int32_t> procTranslated; // sysctl "sysctl.proc_translated"
    };

    static Probe probe();
    static bool decide(const Probe& probe);

    // probe() and decide(), unless a test has set an answer.
    static bool areWeRunningOnAnAppleSiliconMac();
    static void setAnswerForTesting(std::optional<bool> answer);
};

} // namespace qr
