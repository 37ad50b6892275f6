#pragma once
// kit-private: the one XCB connection that the screen, window-list, grab and
// input modules share, with its interned atoms and a reusable MIT-SHM segment.
// Main thread only.
#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kit::x11 {

class Connection {
public:
    // The shared connection to $DISPLAY; null when no X server answers.
    static Connection* shared();

    xcb_connection_t* conn() const { return conn_; }
    xcb_window_t root() const { return root_; }
    xcb_screen_t* screen() const { return screen_; }
    int rootWidth() const { return screen_->width_in_pixels; }
    int rootHeight() const { return screen_->height_in_pixels; }

    xcb_atom_t atom(const char* name);
    std::optional<std::vector<uint8_t>> property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                                                 uint32_t maxLongs = 1 << 16);
    std::optional<uint32_t> cardinal(xcb_window_t w, const char* prop);
    std::vector<uint32_t> cardinals(xcb_window_t w, const char* prop, const char* type = "CARDINAL");
    std::optional<std::string> text(xcb_window_t w, const char* prop, const char* type);

    bool hasShm() const { return shm_; }
    bool hasXTest() const { return xtest_; }
    bool hasXFixes() const { return xfixes_; }
    bool hasComposite() const { return composite_; }

    // A shared-memory segment of at least `bytes`, attached to the server;
    // kept and reused between grabs, grown when a grab needs more. It is as
    // large as the largest grab (a whole 4K screen is 33 MB): it stays for
    // grabs that follow one another (a scrolling capture) and goes back once
    // none asked for it for kSegmentKeepSeconds.
    struct Segment {
        uint32_t seg = 0;
        uint8_t* data = nullptr;
        size_t size = 0;
    };
    const Segment* segment(size_t bytes);
    static constexpr double kSegmentKeepSeconds = 3;

    ~Connection();

private:
    Connection() = default;
    bool open();
    void releaseSegment();

    xcb_connection_t* conn_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_window_t root_ = 0;
    bool shm_ = false, xtest_ = false, xfixes_ = false, composite_ = false;
    Segment segment_;
    uint64_t segmentUses_ = 0;
    int shmId_ = -1;
    std::vector<std::pair<std::string, xcb_atom_t>> atoms_;
};

}  // namespace kit::x11
