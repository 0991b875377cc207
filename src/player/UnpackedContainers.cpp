#include "player/UnpackedContainers.h"

#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <span>
#include <utility>

namespace qr {

namespace {

constexpr std::int64_t kMaxRecordBytes = std::int64_t{4} << 20;

std::int64_t nanoseconds(const timespec& t)
{
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

} // namespace

UnpackedContainers::UnpackedContainers(QString recordPath) : m_recordPath(std::move(recordPath))
{
    if (m_recordPath.isEmpty())
        return;
    RegularFile file(m_recordPath);
    QByteArray bytes;
    if (!file.readAll(bytes, kMaxRecordBytes))
        return;
    // One line per container ("C", identity, path), then one per output ("O", size, path); a line
    // that does not read ends the container it belongs to.
    Entry* current = nullptr;
    for (const QByteArray& line : bytes.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3) {
            current = nullptr;
            continue;
        }
        const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(fields.at(2)));
        if (fields.at(0) == "C") {
            current = &m_entries[path];
            *current = Entry{QString::fromLatin1(fields.at(1)), {}};
            continue;
        }
        bool ok = false;
        const std::int64_t size = fields.at(1).toLongLong(&ok);
        if (fields.at(0) == "O" && current && ok && size >= 0)
            current->outputs.append({path, size});
        else
            current = nullptr;
    }
}

QString UnpackedContainers::identityOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return QStringLiteral("%1:%2:%3:%4:%5")
        .arg(st.st_dev)
        .arg(st.st_ino)
        .arg(st.st_size)
        .arg(nanoseconds(st.st_mtim))
        .arg(nanoseconds(st.st_ctim));
}

bool UnpackedContainers::stands(const Output& output)
{
    struct stat st {};
    if (::stat(QFile::encodeName(output.path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == output.size)
        return true;
    // A compressed frame is removed once it is decompressed: its frame stands for it.
    return output.path.endsWith(QLatin1String(".rgb2")) &&
           ::stat(QFile::encodeName(output.path.chopped(1)).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool UnpackedContainers::stillUnpacked(const QString& path) const
{
    const auto it = m_entries.constFind(path);
    if (it == m_entries.constEnd() || it->outputs.isEmpty() || it->identity != identityOf(path))
        return false;
    for (const Output& output : it->outputs) {
        if (!stands(output))
            return false;
    }
    return true;
}

void UnpackedContainers::remember(const QString& path, const QStringList& written)
{
    if (m_recordPath.isEmpty())
        return;
    Entry entry{identityOf(path), {}};
    for (const QString& output : written)
        entry.outputs.append({output, QFileInfo(output).size()});
    if (entry.identity.isEmpty() || entry.outputs.isEmpty()) {
        forget(path);
        return;
    }
    m_entries[path] = std::move(entry);
    m_changed = true;
}

void UnpackedContainers::forget(const QString& path)
{
    m_changed = m_entries.remove(path) > 0 || m_changed;
}

bool UnpackedContainers::save(const QStringList& seen)
{
    if (m_recordPath.isEmpty())
        return true;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (seen.contains(it.key())) {
            ++it;
        } else {
            it = m_entries.erase(it);
            m_changed = true;
        }
    }
    if (!m_changed)
        return true;
    QByteArray bytes;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        bytes += "C\t" + it->identity.toLatin1() + '\t' + it.key().toUtf8().toPercentEncoding() + '\n';
        for (const Output& output : it->outputs)
            bytes += "O\t" + QByteArray::number(output.size) + '\t' +
                     output.path.toUtf8().toPercentEncoding() + '\n';
    }
    QDir().mkpath(QFileInfo(m_recordPath).absolutePath());
    // Made again by the next pass if lost: no need to wait for the disk.
    const bool written = writeFileReplacing(
        m_recordPath,
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())),
        nullptr, ReplacingFile::Sync::Deferred);
    m_changed = !written;
    return written;
}

} // namespace qr
