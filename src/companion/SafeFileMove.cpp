#include "companion/SafeFileMove.h"

#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QFile>
#include <QFileInfo>

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

} // namespace

bool SafeFileMove::moveFile(const QString& source, const QString& destination, Method method, QString* error)
{
    const auto fail = [error](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    if (source.isEmpty() || destination.isEmpty())
        return fail(QStringLiteral("no path"));
    const QFileInfo in(source);
    // A link would carry whatever file it names into the destination's folder.
    if (in.isSymLink())
        return fail(QStringLiteral("%1 is a link; links are not moved").arg(source));
    if (!RegularFile::isRegular(source))
        return fail(QStringLiteral("%1 is not a regular file").arg(source));
    const QFileInfo out(destination);
    if (out.isSymLink() || out.isDir())
        return fail(QStringLiteral("%1 is a link or a folder").arg(destination));

    const std::filesystem::path from = nativePath(source);
    const std::filesystem::path to = nativePath(destination);
    std::error_code ec;
    // Copying a file onto itself and then removing the source would lose it.
    if (std::filesystem::equivalent(from, to, ec) && !ec)
        return true;

    if (method == Method::RenameWhenPossible) {
        ec.clear();
        std::filesystem::rename(from, to, ec);
        if (!ec)
            return true;
    }

    // The copy is flushed to disk and in place before the source goes.
    RegularFile file;
    QString copyError;
    if (!file.open(source, RegularFile::Links::Refuse))
        return fail(QStringLiteral("cannot read %1: %2").arg(source, file.errorString()));
    if (!copyFileReplacing(file, destination, &copyError))
        return fail(copyError);
    file.close();
    if (QFileInfo::exists(source))
        QFile::remove(source);
    return true;
}

} // namespace qr
