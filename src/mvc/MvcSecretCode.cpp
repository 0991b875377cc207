#include "mvc/MvcSecretCode.h"

namespace qr {

bool MvcSecretCode::parseSecretCodeInputString(const QString& text)
{
    if (text.size() < kLength)
        return false;
    for (int i = 0; i < kLength; ++i)
        m_tf[std::size_t(i)] = std::int32_t(text.at(i).unicode()) - 48;
    return true;
}

QByteArray MvcSecretCode::codeBytes() const
{
    QByteArray out(kLength, '\0');
    for (int i = 0; i < kLength; ++i)
        out[i] = char(std::uint8_t(m_tf[std::size_t(i)] & 0xFF));
    return out;
}

} // namespace qr
