#include "mvc/MvcMessageAssembler.h"

#include <algorithm>

namespace qr {

void MvcMessageAssembler::reset()
{
    m_buf = QByteArray();
    m_head = 0;
    m_header.reset();
    m_payload = QByteArray();
    m_cancelled = false;
    m_rejected = MvcMsgHeader();
}

void MvcMessageAssembler::append(QByteArrayView chunk)
{
    if (m_cancelled || chunk.isEmpty())
        return;
    // Payload bytes go straight into the payload, so a large frame is copied only once.
    if (m_header && m_buf.size() == m_head) {
        const qsizetype need = qsizetype(m_header->mvcLen) - m_payload.size();
        const qsizetype take = std::min(need, chunk.size());
        m_payload.append(chunk.first(take));
        chunk = chunk.sliced(take);
        if (chunk.isEmpty())
            return;
    }
    m_buf.append(chunk);
}

MvcMessageAssembler::Result MvcMessageAssembler::next(Message& out)
{
    if (m_cancelled)
        return Result::Cancel;
    if (!m_header) {
        if (m_buf.size() - m_head < qsizetype(MvcMsgHeader::kSize)) {
            compact();
            return Result::NeedMore;
        }
        const auto* p = reinterpret_cast<const std::uint8_t*>(m_buf.constData() + m_head);
        const MvcMsgHeader h = MvcMsgHeader::parse(std::span<const std::uint8_t, MvcMsgHeader::kSize>(p, 16));
        m_head += MvcMsgHeader::kSize;
        if (h.isCloseRequest()) {
            out.header = h;
            out.payload = QByteArray();
            return Result::Message;
        }
        if (h.mvcLen > m_maxPayload || h.width == 0 || h.height == 0) {
            m_cancelled = true;
            m_rejected = h;
            m_buf = QByteArray();
            m_head = 0;
            return Result::Cancel;
        }
        m_header = h;
        m_payload = QByteArray();
        m_payload.reserve(qsizetype(h.mvcLen));
    }
    const qsizetype need = qsizetype(m_header->mvcLen) - m_payload.size();
    const qsizetype take = std::min(need, m_buf.size() - m_head);
    if (take > 0) {
        m_payload.append(m_buf.constData() + m_head, take);
        m_head += take;
    }
    if (m_payload.size() < qsizetype(m_header->mvcLen)) {
        compact();
        return Result::NeedMore;
    }
    out.header = *m_header;
    out.payload = std::move(m_payload);
    m_payload = QByteArray();
    m_header.reset();
    return Result::Message;
}

qsizetype MvcMessageAssembler::bufferedBytes() const
{
    return (m_buf.size() - m_head) + m_payload.size();
}

void MvcMessageAssembler::compact()
{
    if (m_head == 0)
        return;
    if (m_head >= m_buf.size()) {
        m_buf.clear();
    } else {
        m_buf.remove(0, m_head);
    }
    m_head = 0;
}

} // namespace qr
