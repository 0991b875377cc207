#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

namespace qr {

// A file of the Downloads folder opened for reading, whatever was dropped there. Only a regular
// file (or a link to one) is opened; a FIFO, socket or device is refused before it can block or
// stream forever. The open never blocks, and no more than the size seen at open is ever read, so a
// file that grows, shrinks or vanishes while it is read ends with an error instead of a hang.
class RegularFile {
public:
    // Whether a link to a regular file is opened (its target is read) or refused.
    enum class Links { Follow, Refuse };

    RegularFile() = default;
    explicit RegularFile(const QString& path, Links links = Links::Follow) { open(path, links); }
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // False, with errorString() set, when `path` is not a readable regular file (or, refusing links,
    // is a link).
    bool open(const QString& path, Links links = Links::Follow);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // The size when opened; reads never go past it.
    std::int64_t size() const { return size_; }

    // Reads exactly `out.size()` bytes at `offset`. False when that range is not inside the size
    // known at open or the file no longer holds it (it shrank or failed).
    bool readAt(std::int64_t offset, std::span<std::uint8_t> out);
    // The whole file as it was at open; false when it changed meanwhile or is larger than `limit`.
    bool readAll(QByteArray& out, std::int64_t limit = INT32_MAX);
    // True when the file still has the size and modification time it had at open and was not
    // removed; a copy taken from it is then the file as it was at open.
    bool unchanged();

    const QString& errorString() const { return error_; }
    const QString& path() const { return path_; }

    // Whether `path` names a regular file or a link to one.
    static bool isRegular(const QString& path);

private:
    bool fail(const QString& what);

    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t mtimeNs_ = 0;
    QString path_;
    QString error_;
};

} // namespace qr
