#include "kit/desktop/Grab.h"

#include <xcb/composite.h>
#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "kit/base/Dispatch.h"
#include "kit/desktop/DesktopScreens.h"
#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/x11/Connection.h"

namespace kit {

namespace {

using x11::Connection;

struct PixelRect {
    int x = 0, y = 0, w = 0, h = 0;
};

PixelRect toPixels(const Rect& r, double k) {
    Rect s = r.standardized();
    int x1 = int(std::lround(s.minX() * k)), y1 = int(std::lround(s.minY() * k));
    int x2 = int(std::lround(s.maxX() * k)), y2 = int(std::lround(s.maxY() * k));
    return {x1, y1, x2 - x1, y2 - y1};
}

// Copies Z-pixmap rows of a 24- or 32-bit drawable into the image at (dx, dy);
// a 24-bit drawable has no alpha, so it becomes opaque. A whole screen is tens
// of megabytes, so a large copy is shared among a few threads.
void blitRows(Image& img, int dx, int dy, const uint8_t* src, int w, int h, size_t srcStride, int depth) {
    uint8_t* base = img.mutableBits();
    const size_t stride = img.bytesPerRow();
    auto rows = [=](int from, int to) {
        for (int y = from; y < to; ++y) {
            uint8_t* d = base + size_t(dy + y) * stride + size_t(dx) * 4;
            const uint8_t* s = src + size_t(y) * srcStride;
            if (depth == 32) {
                std::memcpy(d, s, size_t(w) * 4);
                continue;
            }
            // Two pixels a word; the alpha bytes are the top byte of each little-endian pixel.
            int x = 0;
            for (; x + 2 <= w; x += 2) {
                uint64_t v;
                std::memcpy(&v, s + size_t(x) * 4, 8);
                v |= 0xff000000ff000000ull;
                std::memcpy(d + size_t(x) * 4, &v, 8);
            }
            if (x < w) {
                std::memcpy(d + size_t(x) * 4, s + size_t(x) * 4, 4);
                d[size_t(x) * 4 + 3] = 255;
            }
        }
    };
    const size_t bytes = size_t(w) * size_t(h) * 4;
    const int parts = bytes < (8u << 20) ? 1 : int(std::clamp(kit::usableCores(), 1u, 4u));
    if (parts == 1) return rows(0, h);
    const int band = (h + parts - 1) / parts;
    runInBands(parts, [&](int i) { rows(std::min(h, i * band), std::min(h, (i + 1) * band)); });
}

bool getImagePlain(Connection& c, xcb_drawable_t d, PixelRect r, Image& img, int dx, int dy) {
    // Plain GetImage in bands, so no single reply grows beyond what the server allows.
    int band = std::max(1, (8 << 20) / std::max(1, r.w * 4));
    for (int y = 0; y < r.h; y += band) {
        int h = std::min(band, r.h - y);
        auto* rep = xcb_get_image_reply(c.conn(),
                                        xcb_get_image(c.conn(), XCB_IMAGE_FORMAT_Z_PIXMAP, d, int16_t(r.x),
                                                      int16_t(r.y + y), uint16_t(r.w), uint16_t(h), ~0u),
                                        nullptr);
        if (!rep) return false;
        int len = xcb_get_image_data_length(rep);
        if (len < r.w * h * 4) {  // not a 32-bit-per-pixel visual
            free(rep);
            return false;
        }
        blitRows(img, dx, dy + y, xcb_get_image_data(rep), r.w, h, size_t(r.w) * 4, rep->depth);
        free(rep);
    }
    return true;
}

bool getImage(Connection& c, xcb_drawable_t d, PixelRect r, Image& img, int dx, int dy) {
    size_t bytes = size_t(r.w) * size_t(r.h) * 4;
    if (const auto* seg = c.segment(bytes)) {
        auto* rep = xcb_shm_get_image_reply(
            c.conn(),
            xcb_shm_get_image(c.conn(), d, int16_t(r.x), int16_t(r.y), uint16_t(r.w), uint16_t(r.h), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, seg->seg, 0),
            nullptr);
        if (rep && rep->size >= bytes) {
            blitRows(img, dx, dy, seg->data, r.w, r.h, size_t(r.w) * 4, rep->depth);
            free(rep);
            return true;
        }
        free(rep);
    }
    return getImagePlain(c, d, r, img, dx, dy);
}

Image desktopArea(const Rect& rect) {
    Connection* c = Connection::shared();
    if (!c) return {};
    double k = x11::globalScale();
    PixelRect want = toPixels(rect, k);
    if (want.w <= 0 || want.h <= 0) return {};
    Image img(want.w, want.h, k);
    if (img.isNull()) return {};
    int x1 = std::max(want.x, 0), y1 = std::max(want.y, 0);
    int x2 = std::min(want.x + want.w, c->rootWidth()), y2 = std::min(want.y + want.h, c->rootHeight());
    if (x2 <= x1 || y2 <= y1) return img;  // entirely off screen: transparent, like the window server
    if (!getImage(*c, c->root(), {x1, y1, x2 - x1, y2 - y1}, img, x1 - want.x, y1 - want.y)) return {};
    return img;
}

// The picture format of the root window's visual, for drawing into pixmaps of its depth.
std::optional<xcb_render_pictformat_t> rootPictFormat(Connection& c) {
    auto* r = xcb_render_query_pict_formats_reply(c.conn(), xcb_render_query_pict_formats(c.conn()), nullptr);
    if (!r) return std::nullopt;
    std::optional<xcb_render_pictformat_t> found;
    for (auto s = xcb_render_query_pict_formats_screens_iterator(r); s.rem && !found;
         xcb_render_pictscreen_next(&s))
        for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem && !found;
             xcb_render_pictdepth_next(&d))
            for (auto v = xcb_render_pictdepth_visuals_iterator(d.data); v.rem;
                 xcb_render_pictvisual_next(&v))
                if (v.data->visual == c.screen()->root_visual) {
                    found = v.data->format;
                    break;
                }
    free(r);
    return found;
}

// Copies `w`×`h` pixels of one drawable to another of the root's depth, inferior windows included.
void copyPixels(Connection& c, xcb_drawable_t from, int x, int y, xcb_drawable_t to, int w, int h) {
    xcb_gcontext_t gc = xcb_generate_id(c.conn());
    const uint32_t values[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(c.conn(), gc, to, XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values);
    xcb_copy_area(c.conn(), from, to, gc, int16_t(x), int16_t(y), 0, 0, uint16_t(w), uint16_t(h));
    xcb_free_gc(c.conn(), gc);
}

xcb_window_t topLevelFrame(Connection& c, xcb_window_t w) {
    for (int guard = 0; guard < 32; ++guard) {
        auto* t = xcb_query_tree_reply(c.conn(), xcb_query_tree(c.conn(), w), nullptr);
        if (!t) return 0;
        xcb_window_t parent = t->parent;
        free(t);
        if (parent == c.root() || parent == XCB_WINDOW_NONE) return w;
        w = parent;
    }
    return w;
}

// Grabs a window's own pixmap until two grabs a little apart agree: the
// window is repainting what it had never drawn before we redirected it.
// Gives up waiting after a second and a half and keeps the last grab.
Image settledGrab(Connection& c, xcb_pixmap_t pix, int w, int h, double k) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Image last;
    for (;;) {
        Image img(w, h, k);
        if (img.isNull() || !getImagePlain(c, pix, {0, 0, w, h}, img, 0, 0)) return last;
        const auto waited = Clock::now() - start;
        const bool same =
            !last.isNull() && std::memcmp(img.bits(), last.bits(), img.bytesPerRow() * size_t(h)) == 0;
        if ((same && waited >= std::chrono::milliseconds(150)) || waited >= std::chrono::milliseconds(1500))
            return img;
        last = img;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

// A window's frame as the window drew it, covered by others or not; null
// when the server cannot give it. A window that no compositor redirected
// has no pixmap of its own: it is redirected for the moment of the grab
// (the server keeps showing it as before), and the server asks it to
// repaint the parts that were covered, which we wait for.
Image compositeWindow(Connection& c, xcb_window_t frame, int w, int h, double k) {
    xcb_pixmap_t pix = xcb_generate_id(c.conn());
    if (xcb_generic_error_t* err =
            xcb_request_check(c.conn(), xcb_composite_name_window_pixmap_checked(c.conn(), frame, pix))) {
        free(err);  // not redirected: do it ourselves
    } else {
        Image img(w, h, k);
        const bool ok = !img.isNull() && getImagePlain(c, pix, {0, 0, w, h}, img, 0, 0);
        xcb_free_pixmap(c.conn(), pix);
        return ok ? img : Image();
    }
    if (xcb_generic_error_t* err = xcb_request_check(
            c.conn(),
            xcb_composite_redirect_window_checked(c.conn(), frame, XCB_COMPOSITE_REDIRECT_AUTOMATIC))) {
        free(err);
        return {};
    }
    Image img;
    pix = xcb_generate_id(c.conn());
    if (xcb_generic_error_t* err =
            xcb_request_check(c.conn(), xcb_composite_name_window_pixmap_checked(c.conn(), frame, pix))) {
        free(err);
    } else {
        img = settledGrab(c, pix, w, h, k);
        xcb_free_pixmap(c.conn(), pix);
    }
    xcb_composite_unredirect_window(c.conn(), frame, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(c.conn());
    return img;
}

Image desktopWindow(uint32_t number) {
    Connection* c = Connection::shared();
    if (!c || !number) return {};
    xcb_window_t frame = topLevelFrame(*c, number);
    if (!frame) return {};
    auto* geo = xcb_get_geometry_reply(c->conn(), xcb_get_geometry(c->conn(), frame), nullptr);
    if (!geo) return {};
    int w = geo->width + 2 * geo->border_width, h = geo->height + 2 * geo->border_width;
    int x = geo->x, y = geo->y;
    free(geo);
    double k = x11::globalScale();
    if (c->hasComposite())
        if (Image img = compositeWindow(*c, frame, w, h, k); !img.isNull()) return img;
    // Without Composite only the screen shows the window, covered parts and all.
    return desktopArea(Rect(x / k, y / k, w / k, h / k));
}

std::optional<CursorImage> desktopCursor() {
    Connection* c = Connection::shared();
    if (!c || !c->hasXFixes()) return std::nullopt;
    auto* r = xcb_xfixes_get_cursor_image_reply(c->conn(), xcb_xfixes_get_cursor_image(c->conn()), nullptr);
    if (!r) return std::nullopt;
    double k = x11::globalScale();
    CursorImage out;
    // The cursor arrives as premultiplied ARGB words, which is our byte order on little-endian hosts.
    out.image = Image::fromBGRA(reinterpret_cast<const uint8_t*>(xcb_xfixes_get_cursor_image_cursor_image(r)),
                                r->width, r->height, size_t(r->width) * 4, k);
    out.hotspot = {double(r->xhot), double(r->yhot)};
    out.position = {r->x / k, r->y / k};
    free(r);
    if (out.image.isNull()) return std::nullopt;
    return out;
}

Image desktopWallpaper(int screenIndex) {
    Connection* c = Connection::shared();
    if (!c) return {};
    auto list = x11::desktopScreens();
    Rect frame = list.empty() ? Rect(0, 0, c->rootWidth(), c->rootHeight())
                              : list[size_t(std::clamp(screenIndex, 0, int(list.size()) - 1))].frame;
    double k = x11::globalScale();
    for (const char* prop : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        auto ids = c->cardinals(c->root(), prop, "PIXMAP");
        if (ids.empty() || !ids[0]) continue;
        auto* geo = xcb_get_geometry_reply(c->conn(), xcb_get_geometry(c->conn(), ids[0]), nullptr);
        if (!geo) continue;
        PixelRect want = toPixels(frame, k);
        want.w = std::min<int>(want.w, geo->width - want.x);
        want.h = std::min<int>(want.h, geo->height - want.y);
        free(geo);
        if (want.w <= 0 || want.h <= 0) continue;
        Image img(want.w, want.h, k);
        if (!img.isNull() && getImagePlain(*c, ids[0], want, img, 0, 0)) return img;
    }
    // A desktop drawn by a file manager is a window of the desktop type.
    for (auto& w : onScreenWindows())
        if (w.layer && *w.layer == kLayerDesktop) return desktopWindow(w.number);
    return {};
}

}  // namespace

Image grabArea(const Rect& rect) {
    if (auto* s = screenSourceOverride()) return s->grabArea(rect);
    return desktopArea(rect);
}

Image grabWindow(uint32_t number) {
    if (auto* s = screenSourceOverride()) return s->grabWindow(number);
    return desktopWindow(number);
}

std::unique_ptr<FrozenArea> FrozenArea::take(const Rect& rect) {
    if (screenSourceOverride()) return nullptr;
    Connection* c = Connection::shared();
    if (!c) return nullptr;
    const double k = x11::globalScale();
    PixelRect want = toPixels(rect, k);
    if (want.w <= 0 || want.h <= 0 || want.x < 0 || want.y < 0 || want.x + want.w > c->rootWidth() ||
        want.y + want.h > c->rootHeight() || want.w > 32767 || want.h > 32767)
        return nullptr;
    std::unique_ptr<FrozenArea> area(new FrozenArea);
    area->pixmap_ = xcb_generate_id(c->conn());
    area->width_ = want.w, area->height_ = want.h, area->scale_ = k;
    auto made = xcb_create_pixmap_checked(c->conn(), c->screen()->root_depth, area->pixmap_, c->root(),
                                          uint16_t(want.w), uint16_t(want.h));
    if (xcb_generic_error_t* e = xcb_request_check(c->conn(), made)) {  // out of server memory
        free(e);
        area->pixmap_ = 0;
        return nullptr;
    }
    copyPixels(*c, c->root(), want.x, want.y, area->pixmap_, want.w, want.h);
    // The area is the screen as it is now, so the copy is done before we
    // return, not merely sent: the server may carry out another client's
    // later drawing (the toolkit's own repaint) before a request of ours it
    // has not read yet. A round trip waits for it.
    free(xcb_get_input_focus_reply(c->conn(), xcb_get_input_focus(c->conn()), nullptr));
    return area;
}

FrozenArea::~FrozenArea() {
    Connection* c = Connection::shared();
    if (!c || !pixmap_) return;
    xcb_free_pixmap(c->conn(), pixmap_);
    xcb_flush(c->conn());
}

Image FrozenArea::image() const {
    Connection* c = Connection::shared();
    if (!c) return {};
    Image img(width_, height_, scale_);
    if (img.isNull() || !getImage(*c, pixmap_, {0, 0, width_, height_}, img, 0, 0)) return {};
    return img;
}

bool FrozenArea::showDimmedIn(uint32_t window, double alpha) const {
    Connection* c = Connection::shared();
    if (!c) return false;
    auto* geo = xcb_get_geometry_reply(c->conn(), xcb_get_geometry(c->conn(), window), nullptr);
    const bool fits = geo && geo->depth == c->screen()->root_depth;
    free(geo);
    const auto format = fits ? rootPictFormat(*c) : std::nullopt;
    if (!format) return false;
    xcb_pixmap_t dimmed = xcb_generate_id(c->conn());
    xcb_create_pixmap(c->conn(), c->screen()->root_depth, dimmed, c->root(), uint16_t(width_),
                      uint16_t(height_));
    copyPixels(*c, pixmap_, 0, 0, dimmed, width_, height_);
    xcb_render_picture_t picture = xcb_generate_id(c->conn());
    xcb_render_create_picture(c->conn(), picture, dimmed, *format, 0, nullptr);
    const uint16_t a = uint16_t(std::lround(std::clamp(alpha, 0.0, 1.0) * 0xffff));
    const xcb_render_color_t black{0, 0, 0, a};
    const xcb_rectangle_t all{0, 0, uint16_t(width_), uint16_t(height_)};
    xcb_render_fill_rectangles(c->conn(), XCB_RENDER_PICT_OP_OVER, picture, black, 1, &all);
    xcb_render_free_picture(c->conn(), picture);
    // The window holds on to its background; our name for it can go.
    auto set = xcb_change_window_attributes_checked(c->conn(), window, XCB_CW_BACK_PIXMAP, &dimmed);
    xcb_free_pixmap(c->conn(), dimmed);
    xcb_generic_error_t* e = xcb_request_check(c->conn(), set);  // also a round trip: done before the map
    const bool ok = e == nullptr;
    free(e);
    return ok;
}

std::optional<CursorImage> cursorImage() {
    if (auto* s = screenSourceOverride()) return s->cursorImage();
    return desktopCursor();
}

Image grabWallpaper(int screenIndex) {
    if (auto* s = screenSourceOverride()) return s->wallpaper(screenIndex);
    return desktopWallpaper(screenIndex);
}

void drawCursor(Image& area, const Rect& rect, const CursorImage& cursor) {
    if (area.isNull() || cursor.image.isNull()) return;
    double k = area.scale();
    int ox = int(std::lround((cursor.position.x - rect.standardized().minX()) * k - cursor.hotspot.x));
    int oy = int(std::lround((cursor.position.y - rect.standardized().minY()) * k - cursor.hotspot.y));
    uint8_t* dst = area.mutableBits();
    for (int y = 0; y < cursor.image.height(); ++y) {
        int ty = oy + y;
        if (ty < 0 || ty >= area.height()) continue;
        const uint8_t* s = cursor.image.row(y);
        uint8_t* d = dst + size_t(ty) * area.bytesPerRow();
        for (int x = 0; x < cursor.image.width(); ++x) {
            int tx = ox + x;
            if (tx < 0 || tx >= area.width()) continue;
            const uint8_t* sp = s + x * 4;
            uint8_t* dp = d + tx * 4;
            // Source-over with premultiplied colours.
            int inv = 255 - sp[3];
            for (int ch = 0; ch < 4; ++ch) dp[ch] = uint8_t(sp[ch] + (dp[ch] * inv + 127) / 255);
        }
    }
}

Image grabScreen(const Rect& rect, bool withCursor) {
    Image img = grabArea(rect);
    if (withCursor && !img.isNull())
        if (auto cur = cursorImage()) drawCursor(img, rect, *cur);
    return img;
}

}  // namespace kit
