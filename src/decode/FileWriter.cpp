#include "decode/FileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

namespace qr {

namespace {

std::filesystem::path toFsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

bool writeFileReplacing(const QString& path, std::span<const std::uint8_t> bytes)
{
    const auto* data = bytes.data();
    const auto size = static_cast<qint64>(bytes.size());
    const QFileInfo target(path);
    QString tempPath;
    QFile temp;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempPath = target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1Char('.') +
                   QString::number(QRandomGenerator::global()->generate(), 16) + QLatin1String(".part");
        temp.setFileName(tempPath);
        if (temp.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        if (!QFileInfo(target.absolutePath()).isDir())
            return false;
    }
    if (!temp.isOpen())
        return false;
    const bool written = temp.write(reinterpret_cast<const char*>(data), size) == size && temp.flush();
    temp.close();
    if (!written || temp.error() != QFileDevice::NoError) {
        temp.remove();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(toFsPath(tempPath), toFsPath(path), ec);
    if (ec) {
        temp.remove();
        return false;
    }
    return true;
}

} // namespace qr
