#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <span>

namespace qr {

// A file being written under a temporary name in the folder of its target and renamed over the
// target only when complete: an existing file is replaced only by a completely written one, and a
// failed or abandoned write leaves nothing behind.
class ReplacingFile {
public:
    explicit ReplacingFile(const QString& targetPath);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False when the temporary file could not be created or a write failed.
    bool ok() const { return ok_; }
    bool write(std::span<const std::uint8_t> bytes);
    // Closes the file and renames it over the target (or over `finalPath`, a path in the same
    // folder). False, with nothing left behind, when anything failed.
    bool commit();
    bool commitAs(const QString& finalPath);

private:
    QString target_;
    QFile temp_;
    bool ok_ = false;
    bool done_ = false;
};

// Writes `bytes` as the whole content of `path` through a ReplacingFile.
bool writeFileReplacing(const QString& path, std::span<const std::uint8_t> bytes);

} // namespace qr
