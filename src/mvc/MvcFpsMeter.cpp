#include "mvc/MvcFpsMeter.h"

namespace qr {

std::optional<QString> MvcFpsMeter::text(std::int32_t messages, std::int64_t nowNs) const
{
    if (!m_beginNs || nowNs <= *m_beginNs)
        return std::nullopt;
    const float elapsed = float(double(nowNs - *m_beginNs) / 1e9);
    const float fps = float(messages) / elapsed;
    return QString::asprintf("%0.1f fps", double(fps));
}

} // namespace qr
