#include "decode/FileWriter.h"

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

ReplacingFile::ReplacingFile(const QString& targetPath) : target_(targetPath)
{
    const QFileInfo target(targetPath);
    if (!QFileInfo(target.absolutePath()).isDir())
        return;
    // A hidden name that no reader of the folder takes for a photo or frame.
    for (int attempt = 0; attempt < 16 && !ok_; ++attempt) {
        temp_.setFileName(target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1Char('.') +
                          QString::number(QRandomGenerator::global()->generate(), 16) +
                          QLatin1String(".part"));
        ok_ = temp_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
    }
}

ReplacingFile::~ReplacingFile()
{
    if (!done_ && temp_.isOpen()) {
        temp_.close();
        temp_.remove();
    }
}

bool ReplacingFile::write(std::span<const std::uint8_t> bytes)
{
    if (ok_ && !bytes.empty())
        ok_ = temp_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
              static_cast<qint64>(bytes.size());
    return ok_;
}

bool ReplacingFile::commit()
{
    return commitAs(target_);
}

bool ReplacingFile::commitAs(const QString& finalPath)
{
    if (done_ || !temp_.isOpen())
        return false;
    done_ = true;
    temp_.close();
    if (!ok_ || temp_.error() != QFileDevice::NoError) {
        temp_.remove();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(toFsPath(temp_.fileName()), toFsPath(finalPath), ec);
    if (ec) {
        temp_.remove();
        return false;
    }
    return true;
}

bool writeFileReplacing(const QString& path, std::span<const std::uint8_t> bytes)
{
    ReplacingFile file(path);
    file.write(bytes);
    return file.commit();
}

} // namespace qr
