#pragma once
// The gallery's data source: the list of entries it shows (newest first),
// the layout chosen by the settings, the item of the user's last selection,
// the thumbnails (the entry's base colour until its picture is made, the
// items in view asked for first) and the gallery's own arrow keys.
//
// Main thread only.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Event.h"
#include "kit/ui/CollectionView.h"
#include "library/GrabData.h"

namespace library {

// Item size and spacing for a "libLayout" value, a "libPopoveerSize" value
// and the gallery's width.
kit::CollectionView::Layout galleryLayout(const std::string& layout, const std::string& popoverSize,
                                          double width);

// Where thumbnails come from. A request's `done` runs on the main thread
// with the picture (null when the file gave none).
struct ThumbnailSource {
    std::function<kit::Image(const std::string& path, int pixelSize)> cached;
    std::function<uint64_t(const std::string& path, int pixelSize, int priority,
                           std::function<void(const kit::Image&)> done)>
        request;
    std::function<void(uint64_t token)> cancel;
};
// The thumbnail source galleries start with (the process-wide cache).
ThumbnailSource defaultThumbnails();

class GalleryDelegate {
public:
    explicit GalleryDelegate(std::shared_ptr<kit::CollectionView> collection);
    ~GalleryDelegate();

    std::vector<LibObject> records;
    int lastSelectedItem = -1;
    std::shared_ptr<kit::CollectionView> collection;
    ThumbnailSource thumbnails;

    // Item size and spacing from the settings; called before every reload.
    void applyLayout();
    // Replaces the list and reloads the collection.
    void setRecords(std::vector<LibObject> list);
    std::optional<std::string> fileURL(int index) const;
    // Arrow keys move the selection; true when the key was used.
    bool handleKey(const kit::Event& e);
    // The user changed the selection (click or arrow key) at this item.
    std::function<void(int item)> onSelect;
    // The thumbnail size in pixels the current layout asks for.
    int thumbnailPixels() const;

private:
    kit::CollectionView::Cell cell(int item);
    void visibleChanged(int first, int last);
    void cancelAll();

    std::map<int, uint64_t> pending_;  // item → request token
    uint64_t listGeneration_ = 0;
};

}  // namespace library
