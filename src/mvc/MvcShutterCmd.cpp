#include "mvc/MvcShutterCmd.h"

namespace qr {

MvcShutterCmd MvcShutterCmd::fromCode(const MvcSecretCode& code)
{
    MvcShutterCmd cmd;
    const QByteArray bytes = code.codeBytes();
    for (std::size_t i = 0; i < cmd.code.size(); ++i)
        cmd.code[i] = std::uint8_t(bytes.at(qsizetype(i)));
    return cmd;
}

QByteArray MvcShutterCmd::serialize() const
{
    QByteArray out(qsizetype(kSize), '\0');
    for (std::size_t i = 0; i < code.size(); ++i)
        out[qsizetype(i)] = char(code[i]);
    out[6] = char(command & 0xFF);
    out[7] = char(command >> 8);
    return out;
}

bool MvcShutterCmd::parse(QByteArrayView bytes, MvcShutterCmd& out)
{
    if (bytes.size() != qsizetype(kSize))
        return false;
    for (std::size_t i = 0; i < out.code.size(); ++i)
        out.code[i] = std::uint8_t(bytes[qsizetype(i)]);
    out.command = std::uint16_t(std::uint8_t(bytes[6]) | (std::uint8_t(bytes[7]) << 8));
    return true;
}

} // namespace qr
