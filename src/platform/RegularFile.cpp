#include "platform/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qr {

namespace {

std::int64_t mtimeOf(const struct stat& st)
{
    return std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

} // namespace

RegularFile::~RegularFile()
{
    close();
}

bool RegularFile::fail(const QString& what)
{
    error_ = what;
    return false;
}

bool RegularFile::isRegular(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RegularFile::open(const QString& path, Links links)
{
    close();
    path_ = path;
    error_.clear();
    const QByteArray native = QFile::encodeName(path);
    const bool follow = links == Links::Follow;
    // Look before opening: opening some devices has effects of its own.
    struct stat st {};
    if ((follow ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st)) != 0)
        return fail(errnoText(errno));
    if (S_ISLNK(st.st_mode))
        return fail(QStringLiteral("a link"));
    if (!S_ISREG(st.st_mode))
        return fail(QString::fromLatin1(kindOf(st.st_mode)));
    // Non-blocking: the name may have been replaced by a FIFO (or a link) since the look.
    const int fd =
        ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0 && errno == ELOOP && !follow)
        return fail(QStringLiteral("a link"));
    if (fd < 0)
        return fail(errnoText(errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(QString::fromLatin1(kindOf(st.st_mode)));
    }
    fd_ = fd;
    size_ = st.st_size;
    mtimeNs_ = mtimeOf(st);
    return true;
}

void RegularFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

bool RegularFile::readAt(std::int64_t offset, std::span<std::uint8_t> out)
{
    if (fd_ < 0)
        return fail(QStringLiteral("not open"));
    if (offset < 0 || offset > size_ || static_cast<std::int64_t>(out.size()) > size_ - offset)
        return fail(QStringLiteral("range past the end of the file"));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd_, out.data() + done, out.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errnoText(errno));
        if (n == 0)
            return fail(QStringLiteral("shorter than when it was opened"));
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool RegularFile::readAll(QByteArray& out, std::int64_t limit)
{
    out.clear();
    if (fd_ < 0)
        return fail(QStringLiteral("not open"));
    if (size_ > limit)
        return fail(QStringLiteral("larger than %1 bytes").arg(limit));
    QByteArray bytes(static_cast<qsizetype>(size_), Qt::Uninitialized);
    if (!readAt(0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size())) || !unchanged())
        return false;
    out = std::move(bytes);
    return true;
}

bool RegularFile::unchanged()
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return fail(QStringLiteral("not open"));
    if (st.st_nlink == 0)
        return fail(QStringLiteral("removed while it was read"));
    if (st.st_size != size_ || mtimeOf(st) != mtimeNs_)
        return fail(QStringLiteral("changed while it was read"));
    return true;
}

} // namespace qr
