#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace qr {

// The frames-per-second figure of one connection: complete messages divided by the time since the
// first message of the connection began to arrive (an average, not a moving rate).
class MvcFpsMeter {
public:
    // A new connection; `connectionStartNs` is when it was accepted.
    void reset(std::optional<std::int64_t> connectionStartNs = std::nullopt)
    {
        m_beginNs.reset();
        m_connectionStartNs = connectionStartNs;
    }
    // A chunk arrived; the first one of the connection starts the clock.
    void chunkArrived(std::int64_t nowNs)
    {
        if (!m_beginNs)
            m_beginNs = nowNs;
    }
    // The label text after `messages` complete messages at nowNs, "%0.1f fps"; nothing before the
    // clock has started or when no time has passed. A first message that arrives whole in the
    // connection's first chunk is completed in the instant it began; its beginning is then taken
    // to be the connection's start, so that it already gives a figure.
    std::optional<QString> text(std::int32_t messages, std::int64_t nowNs);

private:
    std::optional<std::int64_t> m_beginNs;
    std::optional<std::int64_t> m_connectionStartNs;
};

} // namespace qr
