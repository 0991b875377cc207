#pragma once

#include <QString>

namespace qr {

// The program's user-defaults store (native QSettings of the application).
class UserDefaults {
public:
    static QString stringForKey(const QString& key);
    // Stores and writes to disk at once.
    static void setString(const QString& key, const QString& value);
};

} // namespace qr
