#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qr {

// One payload of a container that produces a file.
struct KroxPayload {
    int type = 0;            // 1 JPEG, 2 HEIC, 3 LZ4 RGB frame, 4 EXIF block, 5 movie
    QString fileName;        // "krox_SSS_NNN.<ext>"; for a movie the base name alone
    std::int64_t offset = 0; // inside the container; offset + length never exceeds its size
    std::int64_t length = 0;
};

// The outcome of reading a container's header and table, before anything is written.
struct KroxLayout {
    bool valid = false;
    QString reason;                    // one line when not valid
    std::vector<KroxPayload> payloads; // entries of unassigned type are left out
};

// What one call of KroxDecoder::processKroxFile did.
struct KroxResult {
    // The container passed every check and every entry's payload lay inside the file.
    bool valid = false;
    // Paths of the files written, in entry order.
    QStringList written;
    // Writes that failed (for example a read-only folder); the unpacking went on after each.
    int failedWrites = 0;
    // What the first failed write met (for example "No space left on device").
    QString writeError;
    // One line saying why the container is not valid; empty when it is.
    QString reason;

    int filesWritten() const { return static_cast<int>(written.size()); }
    bool ok() const { return valid && failedWrites == 0; }
};

// Unpacks `.krox` containers: the phone application's packing of one burst set into a 12-byte
// header, a table of 4-byte entries and the payloads (JPEG, HEIC, LZ4-compressed RGB frames, EXIF
// blocks, a movie). Photos land in the destination folder as "krox_SSS_NNN.<ext>"; a movie lands in
// "<Documents>/Movies". The container itself is never changed.
class KroxDecoder {
public:
    static constexpr int kMaxEntries = 76;
    static constexpr int kHeaderSize = 12;

    // `documentsDir` is where the "Movies" folder goes; empty means the user's Documents folder,
    // looked up when the first movie entry is met.
    explicit KroxDecoder(const QString& documentsDir = QString());

    void setDocumentsDir(const QString& documentsDir) { pathToDocsDir_ = documentsDir; }
    // The Documents folder in use; empty until a movie entry was met or one was given.
    const QString& documentsDir() const { return pathToDocsDir_; }

    // Unpacks the container at `url` (a file URL or a local path) into `destDir`. Output files
    // replace files of the same name; each is written to a temporary file first and renamed over
    // the target, so an existing file is never left half-written. Payloads are copied from the
    // container through one small buffer, not read into memory whole, and never past the size the
    // container had when opened; only a regular file (or a link to one) is read. `keepGoing`, when
    // given, is asked between pieces; false stops the unpacking (the file being written is dropped).
    KroxResult processKroxFile(const QString& url, const QString& destDir,
                               const std::function<bool()>& keepGoing = {});

    // The most bytes the header and the entry table can take: a 12-byte header and 255 entries.
    static constexpr int kMaxHeadSize = kHeaderSize + 4 * 255;

    // Reads the header and entry table of a container. `head` holds the container's first
    // min(fileSize, kMaxHeadSize) bytes (or more); `fileName` is only used for the extension test.
    // Pure: writes nothing.
    static KroxLayout parse(const QString& fileName, std::span<const std::uint8_t> head,
                            std::int64_t fileSize);
    // The same for a whole container held in memory.
    static KroxLayout parse(const QString& fileName, std::span<const std::uint8_t> data)
    {
        return parse(fileName, data, static_cast<std::int64_t>(data.size()));
    }

    // The version test: the two version bytes read as the decimal number "major.minor", compared
    // in single precision with 10.16.
    static bool versionAccepted(std::uint8_t major, std::uint8_t minor);

    // The base name of an output file: "krox_%03d_%03d".
    static QString baseName(int setNumber, int photoNumber);

private:
    KroxResult unpack(const QString& url, const QString& destDir, const std::function<bool()>& keepGoing);

    QString moviesDir();

    QString pathToDocsDir_;
};

} // namespace qr
