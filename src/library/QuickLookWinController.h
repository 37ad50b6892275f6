#pragma once
// Quick look: one library image shown large in a floating borderless panel
// beside the library popover (or in the middle of the screen), never taking
// the keyboard from the popover. A click on the image hides it. Made once by
// the library view and reused for every image. Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Geometry.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Window.h"

namespace library {

// The panel's only content: the image; a click runs onClick.
class ClickableImageView : public kit::ImageView {
public:
    using kit::ImageView::ImageView;
    std::function<void()> onClick;
    void mouseDown(const kit::Event& e) override;
};

class QuickLookWinController {
public:
    QuickLookWinController();
    ~QuickLookWinController();
    QuickLookWinController(const QuickLookWinController&) = delete;
    QuickLookWinController& operator=(const QuickLookWinController&) = delete;

    // Loads the image, sizes and places the panel beside `sender` (a frame on
    // screen, y up) without showing it. False when the file cannot be read
    // (the panel keeps its former image and place), and when a later load or
    // a hide came while the file was read: in order, this image would be
    // gone at once.
    bool loadImage(const std::string& path, const std::optional<kit::Rect>& sender);
    void showWindow();
    void hide();
    // A load is under way that neither a later load nor a hide has dropped:
    // the quick look is as good as open, and the keys that close it close it
    // now (it then never shows).
    bool isLoading() const { return loading_ != 0 && loading_ == requests_; }
    bool isOnOrLoading() const { return isOn || isLoading(); }

    bool isOn = false;
    std::shared_ptr<ClickableImageView> imageView;
    kit::Window& window() { return *window_; }

private:
    std::unique_ptr<kit::Window> window_;
    // Counts loads and hides; a load whose count has moved on is dropped.
    uint64_t requests_ = 0;
    uint64_t loading_ = 0;  // the request whose file is being read, 0 when none
    // That read's file, its place beside the sender, and its handle: a read
    // nobody waits for any more is ended, not left to run for its seconds.
    std::string loadingPath_;
    std::optional<kit::Rect> loadingSender_;
    std::shared_ptr<kit::ImageIO::ReadHandle> reading_;
    void abandonReading();
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace library
