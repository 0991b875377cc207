#pragma once

#include "mvc/MvcMsgHeader.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace qr {

// Turns the byte stream of one connection into whole messages: bytes in, messages out, surplus kept
// for the next message. The header is read only once its 16 bytes have arrived. A header whose
// declared payload no frame can need, or whose width or height is 0, poisons the stream: the
// connection must be cancelled.
//
// Memory stays bounded by one payload plus the last chunk as long as the caller drains every
// complete message (next() until NeedMore) after each append().
class MvcMessageAssembler {
public:
    // The largest frame is 4032 x 3024 RGB pixels.
    static constexpr std::uint32_t kMaxFrameBytes = 36'578'304;
    // LZ4's worst case for the largest frame, plus room for block headers of blocks as small as
    // 4 KiB and the end marker.
    static constexpr std::uint32_t kMaxPayload =
        kMaxFrameBytes + kMaxFrameBytes / 255 + 16 + (kMaxFrameBytes / 4096 + 1) * 12 + 4;

    enum class Result { NeedMore, Message, Cancel };

    struct Message {
        MvcMsgHeader header;
        QByteArray payload; // empty for a close request
    };

    explicit MvcMessageAssembler(std::uint32_t maxPayload = kMaxPayload) : m_maxPayload(maxPayload) {}

    // Forgets everything buffered: a new connection starts with a clean stream.
    void reset();
    void append(QByteArrayView chunk);
    // Takes the next complete message out, if one has arrived. After Cancel the stream stays
    // cancelled until reset().
    Result next(Message& out);

    // Bytes held: a partial header or surplus, plus the payload collected so far.
    qsizetype bufferedBytes() const;
    // A valid header has been read for the message being collected.
    bool hasHeader() const { return m_header.has_value(); }
    bool midMessage() const { return m_header.has_value() || m_buf.size() > m_head; }
    bool isCancelled() const { return m_cancelled; }
    std::uint32_t maxPayload() const { return m_maxPayload; }
    // The header that cancelled the stream (declared length, width, height tell why).
    const MvcMsgHeader& rejectedHeader() const { return m_rejected; }

private:
    void compact();

    std::uint32_t m_maxPayload;
    QByteArray m_buf; // bytes not yet assigned to a payload
    qsizetype m_head = 0;
    std::optional<MvcMsgHeader> m_header; // header of the message being collected
    QByteArray m_payload;
    bool m_cancelled = false;
    MvcMsgHeader m_rejected;
};

} // namespace qr
