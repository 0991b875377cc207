#include "platform/FileListing.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qr {

namespace {

enum class Kind { Folder, Regular, Other };

// The entry's kind, from the folder listing where the file system says it; a link is looked
// through, but only to tell a regular file from everything else.
Kind kindOf(int dirFd, const dirent* entry)
{
    switch (entry->d_type) {
    case DT_DIR:
        return Kind::Folder;
    case DT_REG:
        return Kind::Regular;
    case DT_LNK: {
        struct stat st {};
        return ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode) ? Kind::Regular
                                                                                   : Kind::Other;
    }
    case DT_UNKNOWN: {
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return Kind::Other;
        if (S_ISDIR(st.st_mode))
            return Kind::Folder;
        if (S_ISLNK(st.st_mode))
            return ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode) ? Kind::Regular
                                                                                       : Kind::Other;
        return S_ISREG(st.st_mode) ? Kind::Regular : Kind::Other;
    }
    default:
        return Kind::Other;
    }
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Lists the folder open at `dirFd` (taking ownership) into `out`, descending when `recurse`.
void listFd(int dirFd, const QString& prefix, bool recurse, FileListing::Entries entries, QStringList& out)
{
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (isDotOrDotDot(entry->d_name))
            continue;
        const Kind kind = kindOf(::dirfd(dir), entry);
        const QString name = prefix + QFile::decodeName(entry->d_name);
        if (kind == Kind::Folder && recurse) {
            const int child = ::openat(::dirfd(dir), entry->d_name,
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (child >= 0)
                listFd(child, name + QLatin1Char('/'), true, entries, out);
            continue;
        }
        if (entries == FileListing::Entries::All || kind == Kind::Regular)
            out.append(name);
    }
    ::closedir(dir);
}

int openFolder(const QString& dir)
{
    return ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
}

} // namespace

QStringList FileListing::sorted(QStringList names)
{
    // QString's operator< compares UTF-16 code units: no locale, no case folding.
    std::stable_sort(names.begin(), names.end());
    return names;
}

QStringList FileListing::names(const QString& dir, Entries entries, Order order)
{
    QStringList out;
    if (dir.isEmpty())
        return out;
    const int fd = openFolder(dir);
    if (fd >= 0)
        listFd(fd, QString(), false, entries, out);
    return order == Order::Plain ? sorted(std::move(out)) : out;
}

QStringList FileListing::regularFilesBelow(const QString& root)
{
    QStringList out;
    if (root.isEmpty())
        return out;
    const int fd = openFolder(root);
    if (fd >= 0)
        listFd(fd, QString(), true, Entries::RegularFiles, out);
    return sorted(std::move(out));
}

QString FileListing::extension(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash)
        return {};
    return path.mid(dot + 1);
}

} // namespace qr
