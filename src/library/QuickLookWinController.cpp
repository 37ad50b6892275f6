#include "library/QuickLookWinController.h"

#include "kit/base/Displays.h"
#include "kit/image/ImageIO.h"
#include "library/LibViewHost.h"
#include "library/LibViewText.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace library {

void ClickableImageView::mouseDown(const kit::Event& e) {
    kit::ImageView::mouseDown(e);
    if (onClick) onClick();
}

QuickLookWinController::QuickLookWinController() {
    window_ = std::make_unique<kit::Window>(
        kit::Rect{0, 0, 600, 400},
        kit::WindowStyle::Borderless | kit::WindowStyle::Utility | kit::WindowStyle::NonactivatingPanel);
    window_->setTitle("Kadrix Quick Look");
    window_->setOpaque(false);
    window_->setBackgroundColor(kit::Color::clear());
    window_->setLevel(kit::WindowLevel::Floating);
    auto content = window_->contentView();
    content->layer()->setCornerRadius(10);
    content->layer()->setMasksToBounds(true);
    imageView = std::make_shared<ClickableImageView>(content->bounds());
    imageView->setAutoresizingMask(kit::Autoresizing::WidthSizable | kit::Autoresizing::HeightSizable);
    imageView->onClick = [this] { hide(); };
    content->addSubview(imageView);
}

QuickLookWinController::~QuickLookWinController() {
    abandonReading();
}

void QuickLookWinController::abandonReading() {
    if (reading_) reading_->abandon();
    reading_.reset();
}

bool QuickLookWinController::loadImage(const std::string& path, const std::optional<kit::Rect>& sender) {
    // The same picture asked for again while it is read (the selection
    // reported once more): the read under way shows it, beside this sender.
    if (isLoading() && path == loadingPath_) {
        loadingSender_ = sender;
        return false;
    }
    abandonReading();
    const uint64_t request = ++requests_;
    loading_ = request;
    loadingPath_ = path;
    loadingSender_ = sender;
    auto handle = std::make_shared<kit::ImageIO::ReadHandle>();
    reading_ = handle;
    std::weak_ptr<bool> alive = alive_;
    std::string error;
    kit::Image image = kit::ImageIO::read(path, 1.0, &error, *handle);
    // The event loop ran while the file was read: the library may be gone,
    // or the user has moved on to another image or closed the quick look.
    if (alive.expired() || request != requests_) return false;
    loading_ = 0;
    reading_.reset();
    if (kit::ImageIO::wasCancelled(error)) return false;
    if (image.isNull()) {
        services::Telemetry::shared().oops("loadImage(from:sender:)", "Can't load image from file");
        return false;
    }
    const std::optional<kit::Rect> beside = loadingSender_;
    kit::Display screen = kit::Displays::main();
    if (beside) {
        if (auto d = kit::Displays::at({beside->midX(), beside->midY()})) screen = *d;
    }
    double scale = std::max(1.0, screen.scale);
    kit::Size points{image.width() / scale, image.height() / scale};
    auto frame = quickLookFrame(points, screen.visibleFrame, beside);
    if (!frame) return false;
    imageView->setImage(image);
    imageView->setScaling(kit::ImageView::Scaling::ProportionallyUpOrDown);
    window_->setFrame(*frame);
    imageView->setFrame(window_->contentView()->bounds());
    return true;
}

void QuickLookWinController::showWindow() {
    window_->orderFront();
    isOn = true;
}

void QuickLookWinController::hide() {
    ++requests_;
    abandonReading();
    LibViewHost& host = viewHost();
    host.setPopoverTransient(true);
    if (host.popoverShown()) host.focusPopover();
    imageView->setImage(kit::Image());
    window_->orderOut();
    isOn = false;
}

}  // namespace library
