#include "kit/image/CapturePNG.h"

#include <zlib.h>

#include <cstring>

namespace kit {

namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t len) {
    put32(out, uint32_t(len));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (len) out.insert(out.end(), data, data + len);
    put32(out, uint32_t(crc32(0, out.data() + start, uInt(len + 4))));
}

bool isOpaque(const Image& img) {
    for (int y = 0; y < img.height(); ++y) {
        const uint8_t* p = img.row(y);
        for (int x = 0; x < img.width(); ++x)
            if (p[x * 4 + 3] != 255) return false;
    }
    return true;
}

// One scanline in PNG byte order (R, G, B[, A], straight alpha).
void scanline(const Image& img, int y, bool alpha, uint8_t* out) {
    const uint8_t* p = img.row(y);
    for (int x = 0; x < img.width(); ++x, p += 4) {
        uint8_t a = p[3];
        if (!alpha) {
            *out++ = p[2];
            *out++ = p[1];
            *out++ = p[0];
        } else if (a == 0) {
            std::memset(out, 0, 4);
            out += 4;
        } else {
            *out++ = uint8_t(std::min(255, (p[2] * 255 + a / 2) / a));
            *out++ = uint8_t(std::min(255, (p[1] * 255 + a / 2) / a));
            *out++ = uint8_t(std::min(255, (p[0] * 255 + a / 2) / a));
            *out++ = a;
        }
    }
}

}  // namespace

std::vector<uint8_t> encodeCapturePNG(const Image& image, const std::map<std::string, std::string>& text) {
    if (image.isNull()) return {};
    bool alpha = !isOpaque(image);
    int channels = alpha ? 4 : 3;
    size_t rowBytes = size_t(image.width()) * size_t(channels);

    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t ihdr[13];
    uint32_t w = uint32_t(image.width()), h = uint32_t(image.height());
    for (int i = 0; i < 4; ++i) {
        ihdr[i] = uint8_t(w >> (24 - 8 * i));
        ihdr[4 + i] = uint8_t(h >> (24 - 8 * i));
    }
    ihdr[8] = 8;
    ihdr[9] = alpha ? 6 : 2;
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    chunk(out, "IHDR", ihdr, sizeof ihdr);
    for (const auto& [key, value] : text) {
        if (key.empty() || key.size() > 79) continue;
        std::vector<uint8_t> data(key.begin(), key.end());
        data.push_back(0);
        data.insert(data.end(), value.begin(), value.end());
        chunk(out, "tEXt", data.data(), data.size());
    }

    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::vector<uint8_t> prev(rowBytes, 0), cur(rowBytes), line(rowBytes + 1), idat(size_t(1) << 20);
    auto drain = [&](int flush) {
        do {
            z.next_out = idat.data();
            z.avail_out = uInt(idat.size());
            deflate(&z, flush);
            size_t n = idat.size() - z.avail_out;
            if (n) chunk(out, "IDAT", idat.data(), n);
        } while (z.avail_out == 0);
    };
    for (int y = 0; y < image.height(); ++y) {
        scanline(image, y, alpha, cur.data());
        line[0] = 2;  // "up": screens repeat what is above them
        for (size_t i = 0; i < rowBytes; ++i) line[i + 1] = uint8_t(cur[i] - prev[i]);
        z.next_in = line.data();
        z.avail_in = uInt(line.size());
        drain(Z_NO_FLUSH);
        std::swap(prev, cur);
    }
    z.avail_in = 0;
    int rc;
    do {
        z.next_out = idat.data();
        z.avail_out = uInt(idat.size());
        rc = deflate(&z, Z_FINISH);
        size_t n = idat.size() - z.avail_out;
        if (n) chunk(out, "IDAT", idat.data(), n);
    } while (rc == Z_OK);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) return {};
    chunk(out, "IEND", nullptr, 0);
    return out;
}

}  // namespace kit
