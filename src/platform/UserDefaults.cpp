#include "platform/UserDefaults.h"

#include <QSettings>

namespace qr {

QString UserDefaults::stringForKey(const QString& key)
{
    QSettings settings;
    return settings.value(key).toString();
}

void UserDefaults::setString(const QString& key, const QString& value)
{
    QSettings settings;
    settings.setValue(key, value);
    settings.sync();
}

} // namespace qr
