#include "platform/ReplacingFile.h"

#include "platform/RegularFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace qr {

ReplacingFile::ReplacingFile(const QString& targetPath, Sync sync) : target_(targetPath), sync_(sync)
{
    const QFileInfo target(targetPath);
    if (!QFileInfo(target.absolutePath()).isDir()) {
        fail(QStringLiteral("no folder %1").arg(target.absolutePath()));
        return;
    }
    // A hidden name that no reader of the folder takes for a photo or frame.
    for (int attempt = 0; attempt < 16 && !ok_; ++attempt) {
        temp_.setFileName(target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1Char('.') +
                          QString::number(QRandomGenerator::global()->generate(), 16) +
                          QLatin1String(".part"));
        ok_ = temp_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
        if (!ok_ && temp_.error() != QFileDevice::OpenError)
            break;
    }
    if (!ok_)
        error_ =
            QStringLiteral("cannot create a file in %1: %2").arg(target.absolutePath(), temp_.errorString());
}

ReplacingFile::~ReplacingFile()
{
    abandon();
}

bool ReplacingFile::fail(const QString& what)
{
    if (error_.isEmpty())
        error_ = what;
    ok_ = false;
    return false;
}

void ReplacingFile::abandon()
{
    if (!done_ && temp_.isOpen()) {
        temp_.close();
        temp_.remove();
    }
    done_ = true;
}

bool ReplacingFile::write(std::span<const std::uint8_t> bytes)
{
    // Written straight to the descriptor, so that a failure keeps its reason (QFile reports a full
    // disk as an unknown error).
    std::size_t done = 0;
    while (ok_ && done < bytes.size()) {
        const ssize_t n = ::write(temp_.handle(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(QStringLiteral("cannot write %1: %2")
                     .arg(target_, QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC))));
        else
            done += static_cast<std::size_t>(n);
    }
    return ok_;
}

bool ReplacingFile::commit()
{
    return commitAs(target_);
}

bool ReplacingFile::commitAs(const QString& finalPath)
{
    if (done_ || !temp_.isOpen())
        return fail(error_.isEmpty() ? QStringLiteral("nothing to commit") : error_);
    // On disk before the rename: whoever removes a source after a commit may rely on the copy.
    if (ok_ && sync_ == Sync::ToDisk && ::fsync(temp_.handle()) != 0)
        fail(
            QStringLiteral("cannot write %1: %2").arg(target_, QString::fromLocal8Bit(std::strerror(errno))));
    temp_.close();
    if (ok_ && temp_.error() != QFileDevice::NoError)
        fail(QStringLiteral("cannot write %1: %2").arg(target_, temp_.errorString()));
    if (ok_ && std::rename(QFile::encodeName(temp_.fileName()).constData(),
                           QFile::encodeName(finalPath).constData()) != 0)
        fail(QStringLiteral("cannot replace %1: %2")
                 .arg(finalPath, QString::fromLocal8Bit(std::strerror(errno))));
    done_ = true;
    if (!ok_)
        temp_.remove();
    return ok_;
}

bool writeFileReplacing(const QString& path, std::span<const std::uint8_t> bytes, QString* error,
                        ReplacingFile::Sync sync)
{
    ReplacingFile file(path, sync);
    file.write(bytes);
    const bool ok = file.commit();
    if (error)
        *error = file.errorString();
    return ok;
}

bool copyFileReplacing(RegularFile& source, const QString& path, QString* error,
                       const std::function<bool()>& keepGoing)
{
    const auto failed = [error](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    ReplacingFile out(path);
    if (!out.ok())
        return failed(out.errorString());
    constexpr std::int64_t kChunk = std::int64_t{1} << 20;
    const auto buffer = std::make_unique<std::uint8_t[]>(kChunk);
    for (std::int64_t done = 0; done < source.size();) {
        if (keepGoing && !keepGoing())
            return failed(QStringLiteral("stopped"));
        const auto n = static_cast<std::size_t>(std::min(kChunk, source.size() - done));
        if (!source.readAt(done, std::span(buffer.get(), n)))
            return failed(QStringLiteral("cannot read %1: %2").arg(source.path(), source.errorString()));
        if (!out.write(std::span<const std::uint8_t>(buffer.get(), n)))
            return failed(out.errorString());
        done += static_cast<std::int64_t>(n);
    }
    if (!source.unchanged())
        return failed(QStringLiteral("%1: %2").arg(source.path(), source.errorString()));
    if (!out.commit())
        return failed(out.errorString());
    if (error)
        error->clear();
    return true;
}

int ReplacingFile::sweepStale(const QString& folder, const QStringList& relativePaths, bool anyName,
                              std::int64_t staleAfterSeconds)
{
    // The name the constructor gives: "." + the target's name + "." + 1 to 8 hex digits + ".part".
    static const QRegularExpression ours(QStringLiteral("^\\.(.+)\\.[0-9a-f]{1,8}\\.part$"));
    static const QStringList written = {
        QStringLiteral("jpg"),  QStringLiteral("heic"), QStringLiteral("rgb2"), QStringLiteral("exif"),
        QStringLiteral("rgb"),  QStringLiteral("mov"),  QStringLiteral("mp4"),  QStringLiteral("krox"),
        QStringLiteral("kroa"), QStringLiteral("qrdc")};
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    int removed = 0;
    for (const QString& relative : relativePaths) {
        const QString name = relative.mid(relative.lastIndexOf(QLatin1Char('/')) + 1);
        const QRegularExpressionMatch match = ours.match(name);
        if (!match.hasMatch())
            continue;
        const QString target = match.captured(1);
        if (!anyName && !written.contains(target.mid(target.lastIndexOf(QLatin1Char('.')) + 1)))
            continue;
        const QString path = folder + QLatin1Char('/') + relative;
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::lstat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
            now - std::int64_t{st.st_mtim.tv_sec} < staleAfterSeconds)
            continue;
        if (::unlink(native.constData()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace qr
