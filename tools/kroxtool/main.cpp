// kroxtool: the player's decoders on the command line, for scripting and for many containers.

#include "decode/KroxDecoder.h"
#include "decode/Lz4FrameDecoder.h"
#include "decode/RawFrame.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kHelp =
    "Usage: kroxtool COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Commands:\n"
    "  unpack [-C DIR] FILE.krox...\n"
    "      Unpacks each container as the player does: photos as krox_SSS_NNN.<ext> into DIR\n"
    "      (default: the container's own folder), a movie into the Documents folder's Movies\n"
    "      folder. Prints one line per container. Exit status 1 when any container was not valid\n"
    "      or a file could not be written.\n"
    "  rgb2 [-o OUT] FILE.rgb2...\n"
    "      Decompresses each LZ4-compressed raw frame into the name before the first \".rgb2\"\n"
    "      plus \".rgb\" (or OUT, with exactly one input). An undecodable file writes nothing and\n"
    "      makes the exit status 1. The input is never deleted.\n"
    "  bgra [--portrait] FILE.rgb OUT.png\n"
    "      Converts one raw RGB frame of a recognised size (4032x3024, 3840x2160, 3264x2448,\n"
    "      3088x2320) to a PNG, turned a quarter turn clockwise with --portrait.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help.\n"
    "  --version      Show the version.\n"
    "\n"
    "Exit status: 0 success, 1 an input failed, 2 wrong usage.\n";

void say(const QString& line)
{
    std::fputs(qPrintable(line), stderr);
    std::fputc('\n', stderr);
}

int usageError(const QString& message)
{
    say(QStringLiteral("kroxtool: %1 (see kroxtool --help)").arg(message));
    return kUsage;
}

// Only a regular file is read, and never past the size it had when opened: a FIFO or a device
// given by mistake fails at once instead of blocking or streaming forever.
std::optional<QByteArray> readWhole(const QString& path, QString* error)
{
    qr::RegularFile file;
    QByteArray bytes;
    if (!file.open(path) || !file.readAll(bytes)) {
        *error = file.errorString();
        return std::nullopt;
    }
    return bytes;
}

std::span<const std::uint8_t> asBytes(const QByteArray& a)
{
    return {reinterpret_cast<const std::uint8_t*>(a.constData()), static_cast<std::size_t>(a.size())};
}

int unpack(const QStringList& args)
{
    QString destDir;
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("-C")) {
            if (++i == args.size())
                return usageError(QStringLiteral("-C needs a folder"));
            destDir = args[i];
        } else if (args[i].startsWith(QLatin1Char('-')) && args[i] != QLatin1String("-")) {
            return usageError(QStringLiteral("unknown option %1 for unpack").arg(args[i]));
        } else {
            files << args[i];
        }
    }
    if (files.isEmpty())
        return usageError(QStringLiteral("unpack needs at least one .krox file"));
    if (!destDir.isEmpty() && !QFileInfo(destDir).isDir()) {
        say(QStringLiteral("kroxtool: %1: not a folder").arg(destDir));
        return kFailed;
    }

    qr::KroxDecoder decoder;
    int status = kOk;
    for (const QString& file : files) {
        const QString dir = destDir.isEmpty() ? QFileInfo(file).absolutePath() : destDir;
        const qr::KroxResult r = decoder.processKroxFile(file, dir);
        QString line = QStringLiteral("%1: %2 file%3 written")
                           .arg(file)
                           .arg(r.filesWritten())
                           .arg(r.filesWritten() == 1 ? "" : "s");
        if (!r.valid)
            line +=
                (r.filesWritten() == 0 ? QStringLiteral(", not unpacked: ") : QStringLiteral(", stopped: ")) +
                r.reason;
        if (r.failedWrites > 0)
            line += QStringLiteral(", %1 could not be written (%2)").arg(r.failedWrites).arg(r.writeError);
        say(line);
        if (!r.ok())
            status = kFailed;
    }
    return status;
}

int rgb2(const QStringList& args)
{
    QString out;
    QStringList files;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("-o")) {
            if (++i == args.size())
                return usageError(QStringLiteral("-o needs a file name"));
            out = args[i];
        } else if (args[i].startsWith(QLatin1Char('-'))) {
            return usageError(QStringLiteral("unknown option %1 for rgb2").arg(args[i]));
        } else {
            files << args[i];
        }
    }
    if (files.isEmpty())
        return usageError(QStringLiteral("rgb2 needs at least one .rgb2 file"));
    if (!out.isEmpty() && files.size() != 1)
        return usageError(QStringLiteral("-o takes exactly one input file"));

    int status = kOk;
    for (const QString& file : files) {
        QString target = out;
        if (target.isEmpty()) {
            const QFileInfo info(file);
            const qsizetype at = info.fileName().indexOf(QLatin1String(".rgb2"));
            if (at < 0) {
                say(QStringLiteral("%1: no \".rgb2\" in the name; name the output with -o").arg(file));
                status = kFailed;
                continue;
            }
            target = info.path() + QLatin1Char('/') + info.fileName().left(at) + QLatin1String(".rgb");
        }
        QString error;
        const std::optional<QByteArray> input = readWhole(file, &error);
        if (!input) {
            say(QStringLiteral("%1: cannot read: %2").arg(file, error));
            status = kFailed;
            continue;
        }
        const qr::FrameBuffer frame = qr::Lz4FrameDecoder::decode(asBytes(*input));
        if (frame.isNull()) {
            say(QStringLiteral("%1: out of memory").arg(file));
            status = kFailed;
        } else if (frame.empty()) {
            say(QStringLiteral("%1: not decodable, nothing written").arg(file));
            status = kFailed;
        } else if (!qr::writeFileReplacing(target, frame.span(), &error)) {
            say(QStringLiteral("%1: %2").arg(file, error));
            status = kFailed;
        } else {
            say(QStringLiteral("%1: %2 bytes written to %3").arg(file).arg(frame.size()).arg(target));
        }
    }
    return status;
}

int bgra(const QStringList& args)
{
    bool portrait = false;
    QStringList files;
    for (const QString& a : args) {
        if (a == QLatin1String("--portrait"))
            portrait = true;
        else if (a.startsWith(QLatin1Char('-')))
            return usageError(QStringLiteral("unknown option %1 for bgra").arg(a));
        else
            files << a;
    }
    if (files.size() != 2)
        return usageError(QStringLiteral("bgra needs FILE.rgb and OUT.png"));
    const QString& file = files[0];
    QString error;
    const std::optional<QByteArray> rgb = readWhole(file, &error);
    if (!rgb) {
        say(QStringLiteral("%1: cannot read: %2").arg(file, error));
        return kFailed;
    }
    const std::optional<qr::FrameSize> size = qr::RawFrame::recognisedSize(rgb->size());
    if (!size) {
        say(QStringLiteral("%1: %2 bytes is not the size of a recognised frame").arg(file).arg(rgb->size()));
        return kFailed;
    }
    std::optional<qr::BgraFrame> frame = qr::RawFrame::rgbToBgra(asBytes(*rgb), *size);
    if (frame && portrait)
        frame = qr::RawFrame::rotateBufferToPort(frame->buffer.span(), *size);
    if (!frame) {
        say(QStringLiteral("%1: out of memory").arg(file));
        return kFailed;
    }
    const QImage image = qr::RawFrame::toImage(std::move(*frame));
    if (!image.save(files[1], "PNG")) {
        say(QStringLiteral("%1: cannot write %2").arg(file, files[1]));
        return kFailed;
    }
    say(QStringLiteral("%1: %2 x %3 written to %4")
            .arg(file)
            .arg(image.width())
            .arg(image.height())
            .arg(files[1]));
    return kOk;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(kHelp, stdout);
        return kOk;
    }
    if (command == QLatin1String("--version")) {
        std::fputs("kroxtool " QR_VERSION "\n", stdout);
        return kOk;
    }
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(kHelp, stdout);
        return kOk;
    }
    if (command == QLatin1String("unpack"))
        return unpack(args);
    if (command == QLatin1String("rgb2"))
        return rgb2(args);
    if (command == QLatin1String("bgra"))
        return bgra(args);
    return usageError(QStringLiteral("unknown command %1").arg(command));
}
