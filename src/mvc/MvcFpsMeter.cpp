#include "mvc/MvcFpsMeter.h"

namespace qr {

std::optional<QString> MvcFpsMeter::text(std::int32_t messages, std::int64_t nowNs)
{
    if (!m_beginNs)
        return std::nullopt;
    if (nowNs <= *m_beginNs && m_connectionStartNs && *m_connectionStartNs < *m_beginNs)
        m_beginNs = m_connectionStartNs;
    if (nowNs <= *m_beginNs)
        return std::nullopt;
    const float elapsed = float(double(nowNs - *m_beginNs) / 1e9);
    const float fps = float(messages) / elapsed;
    return QString::asprintf("%0.1f fps", double(fps));
}

} // namespace qr
