#include "library/GalleryItemView.h"

#include <utility>

#include "kit/ui/Menu.h"
#include "library/LibViewController.h"
#include "services/Settings.h"

namespace library {

std::shared_ptr<kit::Menu> GalleryItemView::contextMenu() const {
    static const std::pair<const char*, const char*> actions[] = {
        {"Open in Kadrix", "kadrix"}, {"Quick Look", "quicklook"},     {"Copy", "copy"},
        {"Pin to Screen", "pin"},     {"Open in Default App", "open"}, {"Show in Folder", "finder"},
    };
    auto menu = std::make_shared<kit::Menu>();
    LibViewController* owner = &owner_;
    std::string path = path_;
    for (auto [title, word] : actions) {
        std::string w = word;
        menu->addItem(kit::MenuItem::make(title, [owner, path, w](kit::MenuItem&) {
            owner->performAction(w, path, "contextMenu", w == "quicklook");
        }));
    }
    menu->addSeparator();
    menu->addItem(
        kit::MenuItem::make("Delete", [owner](kit::MenuItem&) { owner->deleteSelected("contextMenu"); }));
    return menu;
}

void GalleryItemView::doubleClick() const {
    owner_.performAction(services::Settings::shared().libAction(), path_, "dblClick");
}

}  // namespace library
