#include "library/GalleryDelegate.h"

#include <algorithm>
#include <cmath>

#include "kit/ui/Window.h"
#include "library/PathNames.h"
#include "library/ThumbnailCache.h"
#include "services/Settings.h"

namespace library {

namespace {

constexpr double kSpacing = 8;
constexpr double kListHeight = 56;
constexpr double kListPicture = 80;
constexpr double kSquare = 80;
// Thumbnails are asked for visible items first; the rows just beyond come next.
constexpr int kPriorityVisible = 2;

}  // namespace

ThumbnailSource defaultThumbnails() {
    ThumbnailSource source;
    source.cached = [](const std::string& path, int px) { return ThumbnailCache::shared().cached(path, px); };
    source.request = [](const std::string& path, int px, int priority,
                        std::function<void(const kit::Image&)> done) {
        return ThumbnailCache::shared().request(path, px, priority,
                                                [done](const ThumbnailCache::Result& r) { done(r.image); });
    };
    source.cancel = [](uint64_t token) { ThumbnailCache::shared().cancel(token); };
    return source;
}

kit::CollectionView::Layout galleryLayout(const std::string& layout, const std::string& popoverSize,
                                          double width) {
    kit::CollectionView::Layout l;
    l.spacing = kSpacing;
    if (layout == "list") {
        l.list = true;
        l.itemSize = {kListPicture, kListHeight};
        return l;
    }
    if (layout == "square80") {
        l.itemSize = {kSquare, kSquare};
        return l;
    }
    // "medium" (and anything unknown) and "large": a number of columns that
    // fill the width, in the 4:3 of a typical screen.
    bool small = popoverSize == "small";
    int columns = layout == "large" ? (small ? 1 : 2) : (small ? 2 : 3);
    double w = std::floor((std::max(width, 100.0) - kSpacing * (columns + 1)) / columns);
    l.itemSize = {w, std::round(w * 0.75)};
    return l;
}

GalleryDelegate::GalleryDelegate(std::shared_ptr<kit::CollectionView> c) : collection(std::move(c)) {
    thumbnails = defaultThumbnails();
    collection->setBackgroundColor(std::nullopt);
    collection->numberOfItems = [this] { return int(records.size()); };
    collection->cellForItem = [this](int item) { return cell(item); };
    collection->onVisibleItemsChanged = [this](int first, int last) { visibleChanged(first, last); };
    collection->onUserSelect = [this](int item) {
        if (item >= 0) lastSelectedItem = item;
        if (onSelect) onSelect(item);
    };
    collection->dragFile = [this](int item) { return fileURL(item).value_or(""); };
}

GalleryDelegate::~GalleryDelegate() {
    cancelAll();
    collection->numberOfItems = nullptr;
    collection->cellForItem = nullptr;
    collection->onVisibleItemsChanged = nullptr;
    collection->onUserSelect = nullptr;
    collection->dragFile = nullptr;
}

void GalleryDelegate::applyLayout() {
    services::Settings& s = services::Settings::shared();
    collection->setItemLayout(galleryLayout(s.libLayout(), s.libPopoveerSize(), collection->contentWidth()));
}

void GalleryDelegate::setRecords(std::vector<LibObject> list) {
    cancelAll();
    records = std::move(list);
    ++listGeneration_;
    applyLayout();
    collection->reloadData();
}

std::optional<std::string> GalleryDelegate::fileURL(int index) const {
    if (index < 0 || size_t(index) >= records.size() || records[size_t(index)].path.empty())
        return std::nullopt;
    return records[size_t(index)].path;
}

int GalleryDelegate::thumbnailPixels() const {
    kit::Size s = collection->itemLayout().itemSize;
    // The view's own screen: the popover is no window of kit's, so the
    // gallery has none to ask, and a thumbnail made for scale 1 shows blurred at 2.
    double scale = collection->backingScaleFactor();
    return int(std::ceil(std::max(s.width, s.height) * scale));
}

kit::CollectionView::Cell GalleryDelegate::cell(int item) {
    kit::CollectionView::Cell c;
    if (item < 0 || size_t(item) >= records.size()) return c;
    const LibObject& rec = records[size_t(item)];
    c.placeholder = rec.baseColor;
    c.title = baseName(rec.path);
    c.detail = std::to_string(rec.width) + " × " + std::to_string(rec.height);
    if (thumbnails.cached) c.image = thumbnails.cached(rec.path, thumbnailPixels());
    return c;
}

void GalleryDelegate::visibleChanged(int first, int last) {
    if (!thumbnails.request) return;
    // Requests for items scrolled away are dropped; what is in view is asked for.
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->first < first || it->first > last) {
            if (thumbnails.cancel) thumbnails.cancel(it->second);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    int px = thumbnailPixels();
    for (int i = first; i <= last; ++i) {
        const std::string& path = records[size_t(i)].path;
        if (pending_.count(i) || (thumbnails.cached && !thumbnails.cached(path, px).isNull())) continue;
        uint64_t generation = listGeneration_;
        pending_[i] =
            thumbnails.request(path, px, kPriorityVisible, [this, i, generation](const kit::Image&) {
                if (generation != listGeneration_) return;
                pending_.erase(i);
                collection->reloadItem(i);
            });
    }
}

void GalleryDelegate::cancelAll() {
    if (thumbnails.cancel)
        for (auto& [item, token] : pending_) thumbnails.cancel(token);
    pending_.clear();
}

bool GalleryDelegate::handleKey(const kit::Event& e) {
    int count = int(records.size());
    if (count == 0) return false;
    int step = 0;
    int cols = collection->columns();
    switch (e.keyCode) {
        case kit::KeyCode::LeftArrow:
            step = -1;
            break;
        case kit::KeyCode::RightArrow:
            step = 1;
            break;
        case kit::KeyCode::UpArrow:
            step = -cols;
            break;
        case kit::KeyCode::DownArrow:
            step = cols;
            break;
        default:
            return false;
    }
    const auto& sel = collection->selectionIndexes();
    int from = lastSelectedItem >= 0 && sel.count(lastSelectedItem) ? lastSelectedItem
                                                                    : (sel.empty() ? -1 : *sel.rbegin());
    int to = from < 0 ? 0 : std::clamp(from + step, 0, count - 1);
    collection->clickItem(to, e.modifierFlags & kit::ModifierFlag::Shift);
    collection->scrollToItem(to);
    lastSelectedItem = to;
    return true;
}

}  // namespace library
