#include "kit/desktop/WindowList.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <fstream>

#include "kit/desktop/DesktopScreens.h"
#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/x11/Connection.h"

namespace kit {

namespace {

using x11::Connection;

std::optional<std::string> ownerOf(Connection& c, xcb_window_t w, uint32_t pid) {
    // WM_CLASS holds "instance\0class\0"; the class names the application.
    if (auto cls = c.text(w, "WM_CLASS", "STRING")) {
        size_t nul = cls->find('\0');
        if (nul != std::string::npos && nul + 1 < cls->size()) {
            std::string name = cls->substr(nul + 1);
            name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
            if (!name.empty()) return name;
        }
    }
    if (pid) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        if (std::getline(comm, name) && !name.empty()) return name;
    }
    return std::nullopt;
}

bool hasAtom(const std::vector<uint32_t>& list, xcb_atom_t a) {
    return a != XCB_ATOM_NONE && std::find(list.begin(), list.end(), a) != list.end();
}

double layerOf(Connection& c, xcb_window_t w, const std::vector<uint32_t>& state) {
    auto types = c.cardinals(w, "_NET_WM_WINDOW_TYPE", "ATOM");
    if (hasAtom(types, c.atom("_NET_WM_WINDOW_TYPE_DESKTOP"))) return kLayerDesktop;
    if (hasAtom(types, c.atom("_NET_WM_WINDOW_TYPE_DOCK"))) return kLayerDock;
    for (const char* t :
         {"_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
          "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_WINDOW_TYPE_SPLASH"})
        if (hasAtom(types, c.atom(t))) return 101;
    if (hasAtom(state, c.atom("_NET_WM_STATE_ABOVE"))) return kLayerFloating;
    if (hasAtom(state, c.atom("_NET_WM_STATE_BELOW"))) return -1;
    return kLayerNormal;
}

std::optional<Rect> frameOf(Connection& c, xcb_window_t w, double k) {
    xcb_connection_t* x = c.conn();
    auto* geo = xcb_get_geometry_reply(x, xcb_get_geometry(x, w), nullptr);
    if (!geo) return std::nullopt;
    auto* tr = xcb_translate_coordinates_reply(x, xcb_translate_coordinates(x, w, c.root(), 0, 0), nullptr);
    if (!tr) {
        free(geo);
        return std::nullopt;
    }
    double left = 0, right = 0, top = 0, bottom = 0;
    auto ext = c.cardinals(w, "_NET_FRAME_EXTENTS");
    if (ext.size() >= 4) left = ext[0], right = ext[1], top = ext[2], bottom = ext[3];
    Rect r((tr->dst_x - left) / k, (tr->dst_y - top) / k, (geo->width + left + right) / k,
           (geo->height + top + bottom) / k);
    free(geo);
    free(tr);
    return r;
}

std::vector<xcb_window_t> clientsBottomToTop(Connection& c) {
    auto list = c.cardinals(c.root(), "_NET_CLIENT_LIST_STACKING", "WINDOW");
    if (!list.empty()) return {list.begin(), list.end()};
    // No EWMH window manager: the root's mapped, managed children in stacking order.
    std::vector<xcb_window_t> out;
    xcb_connection_t* x = c.conn();
    auto* tree = xcb_query_tree_reply(x, xcb_query_tree(x, c.root()), nullptr);
    if (!tree) return out;
    xcb_window_t* kids = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        auto* a = xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, kids[i]), nullptr);
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect) out.push_back(kids[i]);
        free(a);
    }
    free(tree);
    return out;
}

std::vector<WindowInfo> desktopWindows() {
    std::vector<WindowInfo> out;
    Connection* c = Connection::shared();
    if (!c) return out;
    double k = x11::globalScale();
    auto currentDesktop = c->cardinal(c->root(), "_NET_CURRENT_DESKTOP");
    auto clients = clientsBottomToTop(*c);
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        xcb_window_t w = *it;
        auto* attr =
            xcb_get_window_attributes_reply(c->conn(), xcb_get_window_attributes(c->conn(), w), nullptr);
        if (!attr) continue;  // gone since the list was read
        bool viewable = attr->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attr);
        auto state = c->cardinals(w, "_NET_WM_STATE", "ATOM");
        bool hidden = hasAtom(state, c->atom("_NET_WM_STATE_HIDDEN"));
        auto desktop = c->cardinal(w, "_NET_WM_DESKTOP");
        bool here = !currentDesktop || !desktop || *desktop == 0xFFFFFFFFu || *desktop == *currentDesktop;
        if (!viewable || hidden || !here) continue;

        WindowInfo info;
        info.number = w;
        info.title = c->text(w, "_NET_WM_NAME", "UTF8_STRING");
        if (!info.title) info.title = c->text(w, "WM_NAME", "STRING");
        info.pid = c->cardinal(w, "_NET_WM_PID").value_or(0);
        info.owner = ownerOf(*c, w, info.pid);
        info.layer = layerOf(*c, w, state);
        info.bounds = frameOf(*c, w, k);
        info.onScreen = 1;
        auto opacity = c->cardinal(w, "_NET_WM_WINDOW_OPACITY");
        info.alpha = opacity ? *opacity / double(0xFFFFFFFFu) : 1.0;
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace

std::vector<WindowInfo> onScreenWindows() {
    if (auto* s = screenSourceOverride()) return s->windows();
    return desktopWindows();
}

}  // namespace kit
