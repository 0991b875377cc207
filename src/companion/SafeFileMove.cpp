#include "companion/SafeFileMove.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <system_error>

namespace qr {

namespace {

std::filesystem::path nativePath(const QString& path)
{
#if defined(Q_OS_WIN)
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// QSaveFile writes to an unnamed or temporary file beside the target, flushes it to disk and only
// then renames it over the target; any failure before that discards it.
bool copyWhole(const QString& source, const QString& destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const qint64 expected = in.size();

    QSaveFile out(destination);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return false;

    constexpr qint64 kChunk = qint64(1) << 20;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    qint64 copied = 0;
    for (;;) {
        const qint64 n = in.read(buffer.data(), kChunk);
        if (n < 0) {
            out.cancelWriting();
            return false;
        }
        if (n == 0)
            break;
        if (out.write(buffer.constData(), n) != n) {
            out.cancelWriting();
            return false;
        }
        copied += n;
    }
    // A source that changed size while it was read (still being written) is not taken.
    if (copied != expected || QFileInfo(source).size() != expected || !out.flush() ||
        out.size() != expected) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace

bool SafeFileMove::moveFile(const QString& source, const QString& destination, Method method)
{
    if (source.isEmpty() || destination.isEmpty())
        return false;
    const QFileInfo in(source);
    if (!in.isFile())
        return false;
    const QFileInfo out(destination);
    if (out.isSymLink() || out.isDir())
        return false;

    const std::filesystem::path from = nativePath(source);
    const std::filesystem::path to = nativePath(destination);
    std::error_code ec;
    // Copying a file onto itself and then removing the source would lose it.
    if (std::filesystem::equivalent(from, to, ec) && !ec)
        return true;

    if (method == Method::RenameWhenPossible && !in.isSymLink()) {
        ec.clear();
        std::filesystem::rename(from, to, ec);
        if (!ec)
            return true;
    }

    if (!copyWhole(source, destination))
        return false;
    if (QFileInfo::exists(source) || QFileInfo(source).isSymLink())
        QFile::remove(source);
    return true;
}

} // namespace qr
