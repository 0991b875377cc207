#pragma once

// HEIC photos stored as a grid of tiles, as phones write them: each tile is encoded by libheif as a
// photo of its own, then its coded data and decoder configuration are taken out of that file and
// composed into one file whose primary item is a 'grid' image deriving from the tiles.

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

#include <libheif/heif.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qr::fixtures {

namespace heicgrid {

inline void put8(QByteArray& out, std::uint32_t v)
{
    out.append(char(v & 0xFF));
}
inline void put16(QByteArray& out, std::uint32_t v)
{
    put8(out, v >> 8);
    put8(out, v);
}
inline void put32(QByteArray& out, std::uint32_t v)
{
    put16(out, v >> 16);
    put16(out, v);
}

inline QByteArray box(const char* type, const QByteArray& payload)
{
    QByteArray out;
    put32(out, std::uint32_t(8 + payload.size()));
    out.append(type, 4);
    return out + payload;
}

inline QByteArray fullBox(const char* type, int version, std::uint32_t flags, const QByteArray& payload)
{
    QByteArray head;
    put32(head, (std::uint32_t(version) << 24) | (flags & 0xFFFFFF));
    return box(type, head + payload);
}

inline std::uint64_t readBe(const QByteArray& b, qsizetype at, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | std::uint8_t(b[at + i]);
    return v;
}

// The payload (after the header) of the first child box of `type` within [begin, end).
inline std::optional<std::pair<qsizetype, qsizetype>> findBox(const QByteArray& b, qsizetype begin,
                                                              qsizetype end, const char* type)
{
    for (qsizetype at = begin; at + 8 <= end;) {
        const auto size = qsizetype(readBe(b, at, 4));
        if (size < 8 || at + size > end)
            return std::nullopt;
        if (b.mid(at + 4, 4) == QByteArray(type, 4))
            return std::make_pair(at + 8, at + size);
        at += size;
    }
    return std::nullopt;
}

// The coded data and the 'hvcC' box of the one image in a file libheif wrote.
struct Coded {
    QByteArray hvcC; // the whole box
    QByteArray data;
};

inline std::optional<Coded> extract(const QByteArray& file)
{
    const auto meta = findBox(file, 0, file.size(), "meta");
    if (!meta)
        return std::nullopt;
    const qsizetype metaBegin = meta->first + 4; // full box
    const auto iprp = findBox(file, metaBegin, meta->second, "iprp");
    const auto iloc = findBox(file, metaBegin, meta->second, "iloc");
    if (!iprp || !iloc)
        return std::nullopt;
    const auto ipco = findBox(file, iprp->first, iprp->second, "ipco");
    if (!ipco)
        return std::nullopt;
    const auto hvcC = findBox(file, ipco->first, ipco->second, "hvcC");
    if (!hvcC)
        return std::nullopt;
    Coded coded;
    coded.hvcC = file.mid(hvcC->first - 8, hvcC->second - hvcC->first + 8);

    qsizetype at = iloc->first;
    const int version = int(readBe(file, at, 1));
    at += 4;
    const int offsetSize = int(readBe(file, at, 1)) >> 4;
    const int lengthSize = int(readBe(file, at, 1)) & 15;
    const int baseSize = int(readBe(file, at + 1, 1)) >> 4;
    const int indexSize = version >= 1 ? int(readBe(file, at + 1, 1)) & 15 : 0;
    at += 2;
    const int idSize = version < 2 ? 2 : 4;
    const auto items = readBe(file, at, idSize);
    at += idSize;
    if (items != 1)
        return std::nullopt;
    at += idSize; // item ID
    if (version >= 1)
        at += 2; // construction method
    at += 2;     // data reference index
    const auto base = readBe(file, at, baseSize);
    at += baseSize;
    const auto extents = readBe(file, at, 2);
    at += 2;
    for (std::uint64_t e = 0; e < extents; ++e) {
        at += indexSize;
        const auto offset = readBe(file, at, offsetSize);
        at += offsetSize;
        const auto length = readBe(file, at, lengthSize);
        at += lengthSize;
        if (base + offset + length > std::uint64_t(file.size()))
            return std::nullopt;
        coded.data += file.mid(qsizetype(base + offset), qsizetype(length));
    }
    return coded;
}

inline heif_error writeToArray(heif_context*, const void* data, size_t size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// `image` (RGB32) encoded by libheif as a HEIC file in memory; empty on failure.
inline QByteArray encode(const QImage& image, int quality)
{
    std::unique_ptr<heif_context, void (*)(heif_context*)> ctx(heif_context_alloc(), heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder).code !=
        heif_error_Ok)
        return {};
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(rawEncoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), quality);
    heif_image* raw = nullptr;
    if (heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          &raw)
            .code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_image, void (*)(const heif_image*)> img(raw, heif_image_release);
    heif_image_add_plane(img.get(), heif_channel_interleaved, image.width(), image.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(img.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            std::uint8_t* p = plane + y * stride + x * 3;
            p[0] = std::uint8_t(qRed(row[x]));
            p[1] = std::uint8_t(qGreen(row[x]));
            p[2] = std::uint8_t(qBlue(row[x]));
        }
    }
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(ctx.get(), img.get(), encoder.get(), nullptr, &handle).code !=
        heif_error_Ok)
        return {};
    heif_image_handle_release(handle);
    QByteArray out;
    heif_writer writer{1, writeToArray};
    if (heif_context_write(ctx.get(), &writer, &out).code != heif_error_Ok)
        return {};
    return out;
}

} // namespace heicgrid

// Writes `image` (RGB32) as a grid of `tile` x `tile` tiles (the last row and column cropped by the
// grid's output size) to `path`. False when encoding or writing fails.
inline bool makeHeicGrid(const QString& path, const QImage& image, int tile = 512, int quality = 80)
{
    using namespace heicgrid;
    const int columns = (image.width() + tile - 1) / tile;
    const int rows = (image.height() + tile - 1) / tile;
    if (columns > 256 || rows > 256 || image.width() > 0xFFFF || image.height() > 0xFFFF)
        return false;
    std::vector<Coded> tiles;
    // A tile equal to one encoded before takes its coded data (a repeating image costs one encode).
    std::vector<std::pair<QImage, std::size_t>> encoded;
    QMultiHash<std::size_t, std::size_t> encodedByHash;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            // Tiles past the image's edge repeat its last pixels.
            QImage part(tile, tile, QImage::Format_RGB32);
            for (int y = 0; y < tile; ++y)
                for (int x = 0; x < tile; ++x)
                    part.setPixel(x, y,
                                  image.pixel(std::min(c * tile + x, image.width() - 1),
                                              std::min(r * tile + y, image.height() - 1)));
            const std::size_t hash = qHash(QByteArrayView(part.constBits(), part.sizeInBytes()));
            std::optional<std::size_t> same;
            for (const std::size_t i : encodedByHash.values(hash))
                if (encoded[i].first == part)
                    same = encoded[i].second;
            if (same) {
                tiles.push_back(tiles[*same]);
                continue;
            }
            const auto coded = extract(encode(part, quality));
            if (!coded)
                return false;
            encodedByHash.insert(hash, encoded.size());
            encoded.emplace_back(part, tiles.size());
            tiles.push_back(*coded);
        }
    }
    const int count = int(tiles.size());
    const auto tileId = [](int i) {
        return std::uint32_t(2 + i);
    };

    QByteArray ftypPayload("heic", 4);
    put32(ftypPayload, 0);
    ftypPayload.append("mif1heic", 8);
    const QByteArray ftyp = box("ftyp", ftypPayload);

    QByteArray hdlr;
    put32(hdlr, 0);
    hdlr.append("pict", 4);
    put32(hdlr, 0);
    put32(hdlr, 0);
    put32(hdlr, 0);
    hdlr.append('\0');
    QByteArray pitm;
    put16(pitm, 1);
    QByteArray iinf;
    put16(iinf, std::uint32_t(1 + count));
    const auto infe = [](std::uint32_t id, const char* type, std::uint32_t flags) {
        QByteArray p;
        put16(p, id);
        put16(p, 0);
        p.append(type, 4);
        p.append('\0');
        return fullBox("infe", 2, flags, p);
    };
    iinf += infe(1, "grid", 0);
    for (int i = 0; i < count; ++i)
        iinf += infe(tileId(i), "hvc1", 1); // hidden: only the grid is shown
    QByteArray dimg;
    put16(dimg, 1);
    put16(dimg, std::uint32_t(count));
    for (int i = 0; i < count; ++i)
        put16(dimg, tileId(i));

    // Properties: the tiles' decoder configurations (one each), the tile size, the photo size.
    QByteArray ipco;
    for (const Coded& t : tiles)
        ipco += t.hvcC;
    QByteArray tileSize;
    put32(tileSize, std::uint32_t(tile));
    put32(tileSize, std::uint32_t(tile));
    ipco += fullBox("ispe", 0, 0, tileSize);
    QByteArray fullSize;
    put32(fullSize, std::uint32_t(image.width()));
    put32(fullSize, std::uint32_t(image.height()));
    ipco += fullBox("ispe", 0, 0, fullSize);
    const int tileSizeIndex = count + 1; // 1-based
    const int fullSizeIndex = count + 2;
    QByteArray ipma;
    put32(ipma, std::uint32_t(1 + count));
    put16(ipma, 1);
    put8(ipma, 1);
    put8(ipma, std::uint32_t(fullSizeIndex));
    for (int i = 0; i < count; ++i) {
        put16(ipma, tileId(i));
        put8(ipma, 2);
        put8(ipma, 0x80 | std::uint32_t(i + 1)); // essential
        put8(ipma, std::uint32_t(tileSizeIndex));
    }
    const QByteArray iprp = box("iprp", box("ipco", ipco) + fullBox("ipma", 0, 0, ipma));

    QByteArray gridData;
    put8(gridData, 0);
    put8(gridData, 0); // 16-bit output size
    put8(gridData, std::uint32_t(rows - 1));
    put8(gridData, std::uint32_t(columns - 1));
    put16(gridData, std::uint32_t(image.width()));
    put16(gridData, std::uint32_t(image.height()));

    // The item locations have a fixed size, so the meta box's size is known before the offsets.
    const auto metaWith = [&](const QByteArray& iloc) {
        return fullBox("meta", 0, 0,
                       fullBox("hdlr", 0, 0, hdlr) + fullBox("pitm", 0, 0, pitm) +
                           fullBox("iinf", 0, 0, iinf) + fullBox("iref", 0, 0, box("dimg", dimg)) + iprp +
                           iloc);
    };
    const auto ilocFor = [&](std::uint32_t dataStart) {
        QByteArray p;
        put8(p, 0x44); // 4-byte offsets and lengths
        put8(p, 0x00); // no base offset
        put16(p, std::uint32_t(1 + count));
        std::uint32_t at = dataStart;
        const auto item = [&](std::uint32_t id, std::uint32_t length) {
            put16(p, id);
            put16(p, 0);
            put16(p, 1);
            put32(p, at);
            put32(p, length);
            at += length;
        };
        item(1, std::uint32_t(gridData.size()));
        for (int i = 0; i < count; ++i)
            item(tileId(i), std::uint32_t(tiles[std::size_t(i)].data.size()));
        return fullBox("iloc", 0, 0, p);
    };
    const qsizetype metaSize = metaWith(ilocFor(0)).size();
    const auto dataStart = std::uint32_t(ftyp.size() + metaSize + 8);
    QByteArray mdat = gridData;
    for (const Coded& t : tiles)
        mdat += t.data;
    const QByteArray file = ftyp + metaWith(ilocFor(dataStart)) + box("mdat", mdat);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(file) == file.size();
}

} // namespace qr::fixtures
