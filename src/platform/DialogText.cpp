#include "platform/DialogText.h"

namespace qr {

QString DialogText::bullet()
{
    return QString(QChar(0x26AB)) + QChar(0xFE0E);
}

} // namespace qr
