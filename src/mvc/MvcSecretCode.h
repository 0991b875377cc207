#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace qr {

// The six code fields shared with the capture phones: each is a character's UTF-16 code unit minus
// 48, so the digits "0" to "9" give 0 to 9. Characters are not validated.
class MvcSecretCode {
public:
    static constexpr int kLength = 6;

    // Fills the fields from the first six characters; a shorter string leaves the fields unchanged
    // and returns false.
    bool parseSecretCodeInputString(const QString& text);

    const std::array<std::int32_t, kLength>& fields() const { return m_tf; }
    // The low 8 bits of each field, in order: the whole TXT record of the advertisement and the
    // start of every shutter command.
    QByteArray codeBytes() const;

private:
    std::array<std::int32_t, kLength> m_tf{};
};

} // namespace qr
