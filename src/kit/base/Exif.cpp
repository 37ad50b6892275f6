#include "kit/base/Exif.h"

#include <cstring>

namespace kit::Exif {

namespace {

constexpr uint16_t kTagExifIFD = 0x8769;
constexpr uint16_t kTagUserComment = 0x9286;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeUndefined = 7;
const char kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
const char kAsciiCode[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};

void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putEntry(Bytes& b, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    put16(b, tag);
    put16(b, type);
    put32(b, count);
    put32(b, value);
}

// TIFF: header, IFD0 with the one pointer to the EXIF IFD, the EXIF IFD with
// the one comment entry, then the comment's bytes. Offsets count from the
// TIFF header.
Bytes tiffWithComment(std::string_view comment) {
    constexpr uint32_t ifd0 = 8, exifIfd = ifd0 + 2 + 12 + 4, data = exifIfd + 2 + 12 + 4;
    Bytes t = {'I', 'I', 42, 0};
    put32(t, ifd0);
    put16(t, 1);
    putEntry(t, kTagExifIFD, kTypeLong, 1, exifIfd);
    put32(t, 0);
    put16(t, 1);
    putEntry(t, kTagUserComment, kTypeUndefined, uint32_t(sizeof kAsciiCode + comment.size()), data);
    put32(t, 0);
    t.insert(t.end(), kAsciiCode, kAsciiCode + sizeof kAsciiCode);
    t.insert(t.end(), comment.begin(), comment.end());
    return t;
}

bool isExifSegment(const Bytes& j, size_t at, size_t len) {
    return j[at + 1] == 0xE1 && len >= 8 && std::memcmp(&j[at + 4], kExifId, sizeof kExifId) == 0;
}

// Walks the marker segments before the image data; calls fn(offset, total
// length incl. marker) for each; stops when fn returns false. False when the
// structure is broken.
template <class F>
bool eachSegment(const Bytes& j, F fn) {
    if (j.size() < 4 || j[0] != 0xFF || j[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= j.size() && j[at] == 0xFF) {
        uint8_t m = j[at + 1];
        if (m == 0xDA || m == 0xD9) return true;  // image data or end: no more headers
        size_t len = size_t(j[at + 2]) << 8 | j[at + 3];
        if (len < 2 || at + 2 + len > j.size()) return false;
        if (!fn(at, len + 2)) return true;
        at += len + 2;
    }
    return true;
}

uint32_t read32(const uint8_t* p, bool le) {
    return le ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
              : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
uint16_t read16(const uint8_t* p, bool le) {
    return le ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[1] | p[0] << 8);
}

// The value bytes of `tag` in the IFD at `ifd`, bounds-checked.
std::optional<std::pair<uint32_t, uint32_t>> findTag(const uint8_t* t, size_t n, bool le, uint32_t ifd,
                                                     uint16_t tag) {
    if (size_t(ifd) + 2 > n) return std::nullopt;
    uint16_t count = read16(t + ifd, le);
    for (uint16_t i = 0; i < count; ++i) {
        size_t e = size_t(ifd) + 2 + size_t(i) * 12;
        if (e + 12 > n) return std::nullopt;
        if (read16(t + e, le) != tag) continue;
        uint32_t cnt = read32(t + e + 4, le);
        uint32_t off = cnt <= 4 ? uint32_t(e + 8) : read32(t + e + 8, le);
        if (size_t(off) + cnt > n) return std::nullopt;
        return std::pair{off, cnt};
    }
    return std::nullopt;
}

}  // namespace

Bytes withUserComment(const Bytes& jpeg, std::string_view comment) {
    Bytes tiff = tiffWithComment(comment);
    size_t segLen = 2 + sizeof kExifId + tiff.size();
    if (segLen > 0xFFFF) return {};
    Bytes seg = {0xFF, 0xE1, uint8_t(segLen >> 8), uint8_t(segLen)};
    seg.insert(seg.end(), kExifId, kExifId + sizeof kExifId);
    seg.insert(seg.end(), tiff.begin(), tiff.end());

    size_t insertAt = 2;
    std::optional<std::pair<size_t, size_t>> old;
    bool ok = eachSegment(jpeg, [&](size_t at, size_t total) {
        if (jpeg[at + 1] == 0xE0 && insertAt == at) insertAt = at + total;  // after JFIF
        if (isExifSegment(jpeg, at, total - 2)) old = {at, total};
        return true;
    });
    if (!ok) return {};
    Bytes out;
    out.reserve(jpeg.size() + seg.size());
    for (size_t i = 0; i < jpeg.size();) {
        if (i == insertAt) out.insert(out.end(), seg.begin(), seg.end());
        if (old && i == old->first) {
            i += old->second;
            continue;
        }
        out.push_back(jpeg[i++]);
    }
    // Headers that run to the end of the data: the comment goes last.
    if (insertAt == jpeg.size()) out.insert(out.end(), seg.begin(), seg.end());
    return out;
}

std::optional<std::string> userComment(const Bytes& jpeg) {
    std::optional<std::string> found;
    eachSegment(jpeg, [&](size_t at, size_t total) {
        if (!isExifSegment(jpeg, at, total - 2)) return true;
        const uint8_t* t = jpeg.data() + at + 4 + sizeof kExifId;
        size_t n = total - 4 - sizeof kExifId;
        if (n < 8 || !((t[0] == 'I' && t[1] == 'I') || (t[0] == 'M' && t[1] == 'M'))) return false;
        bool le = t[0] == 'I';
        auto exif = findTag(t, n, le, read32(t + 4, le), kTagExifIFD);
        if (!exif || exif->second != 1) return false;
        auto c = findTag(t, n, le, read32(t + exif->first, le), kTagUserComment);
        if (!c || c->second < sizeof kAsciiCode) return false;
        found = std::string(reinterpret_cast<const char*>(t + c->first + sizeof kAsciiCode),
                            c->second - sizeof kAsciiCode);
        return false;
    });
    return found;
}

}  // namespace kit::Exif
