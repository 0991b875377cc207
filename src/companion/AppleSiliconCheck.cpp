#include "companion/AppleSiliconCheck.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <sys/utsname.h>
#endif
#if defined(Q_OS_MACOS)
#include <sys/sysctl.h>
#endif

namespace qr {

namespace {
std::optional<bool>& testAnswer()
{
    static std::optional<bool> answer;
    return answer;
}
} // namespace

AppleSiliconCheck::Probe AppleSiliconCheck::probe()
{
    Probe p;
#if defined(Q_OS_UNIX)
    struct utsname u {};
    if (uname(&u) == 0)
        p.machine = std::string(u.machine);
#endif
#if defined(Q_OS_MACOS)
    int32_t translated = 0;
    size_t size = sizeof(translated);
    if (sysctlbyname("sysctl.proc_translated", &translated, &size, nullptr, 0) == 0)
        p.procTranslated = translated;
#endif
    return p;
}

bool AppleSiliconCheck::decide(const Probe& p)
{
    if (!p.machine)
        return false;
    if (*p.machine == "arm64")
        return true;
    return p.procTranslated.has_value() && *p.procTranslated == 1;
}

bool AppleSiliconCheck::areWeRunningOnAnAppleSiliconMac()
{
    if (testAnswer())
        return *testAnswer();
    return decide(probe());
}

void AppleSiliconCheck::setAnswerForTesting(std::optional<bool> answer)
{
    testAnswer() = answer;
}

} // namespace qr
