#pragma once
// What a gallery item does beyond being drawn: its context menu (the actions
// of the library view, with the method "contextMenu"), its double-click (the
// "libAction" setting's action, method "dblClick").
#include <memory>
#include <string>

namespace kit {
class Menu;
}

namespace library {

class LibViewController;

class GalleryItemView {
public:
    GalleryItemView(LibViewController& owner, std::string path) : owner_(owner), path_(std::move(path)) {}

    std::shared_ptr<kit::Menu> contextMenu() const;
    void doubleClick() const;

private:
    LibViewController& owner_;
    std::string path_;
};

}  // namespace library
