#include "decode/HeifBoxCheck.h"

namespace qr {

namespace {

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint64_t be64(const std::uint8_t* p)
{
    return std::uint64_t{be32(p)} << 32 | be32(p + 4);
}

bool isType(const std::uint8_t* p, const char (&t)[5])
{
    return p[0] == std::uint8_t(t[0]) && p[1] == std::uint8_t(t[1]) && p[2] == std::uint8_t(t[2]) &&
           p[3] == std::uint8_t(t[3]);
}

struct Box {
    const std::uint8_t* type = nullptr;
    std::span<const std::uint8_t> body;
};

// Walks the boxes of `area` in order and calls `visit(box)` for each. False when a box header or
// body does not fit the area, or when `visit` returns false (the walk stops there).
template <typename Visit> bool forEachBox(std::span<const std::uint8_t> area, Visit visit)
{
    std::size_t at = 0;
    while (at < area.size()) {
        const std::size_t left = area.size() - at;
        if (left < 8)
            return false;
        const std::uint8_t* p = area.data() + at;
        std::uint64_t size = be32(p);
        std::size_t header = 8;
        if (size == 1) {
            if (left < 16)
                return false;
            size = be64(p + 8);
            header = 16;
        } else if (size == 0) {
            size = left; // to the end of its parent
        }
        if (size < header || size > left)
            return false;
        if (!visit(Box{p + 4, area.subspan(at + header, static_cast<std::size_t>(size) - header)}))
            return false;
        at += static_cast<std::size_t>(size);
    }
    return true;
}

// 'iref': a full box whose children each give one item's references to others.
bool referencesFit(std::span<const std::uint8_t> iref)
{
    if (iref.size() < 4)
        return false;
    const std::size_t idBytes = iref[0] == 0 ? 2 : 4;
    return forEachBox(iref.subspan(4), [idBytes](const Box& ref) {
        if (ref.body.size() < idBytes + 2)
            return false;
        const std::uint8_t* count = ref.body.data() + idBytes;
        const std::size_t n = std::size_t{count[0]} << 8 | count[1];
        return idBytes + 2 + n * idBytes <= ref.body.size();
    });
}

} // namespace

bool HeifBoxCheck::wellFormed(std::span<const std::uint8_t> file)
{
    // The top level is read up to 'meta'; what follows it (the coded data, perhaps cut short) is
    // libheif's to judge.
    bool metaOk = false;
    bool metaSeen = false;
    forEachBox(file, [&](const Box& top) {
        if (!isType(top.type, "meta"))
            return true;
        metaSeen = true;
        metaOk = top.body.size() >= 4 && // version and flags
                 forEachBox(top.body.subspan(4), [](const Box& child) {
                     if (isType(child.type, "iref"))
                         return referencesFit(child.body);
                     if (isType(child.type, "iprp"))
                         return forEachBox(child.body, [](const Box&) { return true; });
                     return true;
                 });
        return false;
    });
    return metaSeen && metaOk;
}

} // namespace qr
