#pragma once
// The backdrop a screenshot can be placed on: a gradient, a mesh of soft
// colour points, a flat colour or the user's own picture around the
// screenshot, with grain, padding, an aspect ratio, rounded corners and a
// soft shadow. One shared instance implements the editor's BackdropHost; its
// layer tree sits under the editor's object layers and is drawn into exports
// by the core's compile step.
//
// Main thread only, except bestCanvasColor(), which guards its cache with
// its own lock (canvasLock_), and the picture cache, under fileLock_. The
// two locks are never held together.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backdrop/Config.h"
#include "editor/EditorHost.h"
#include "imaging/Capture.h"
#include "kit/base/Json.h"
#include "kit/draw/GradientLayer.h"
#include "kit/draw/Layer.h"
#include "services/Rect.h"

namespace backdrop {

class BackdropViewController;

class Backdrop : public editor::BackdropHost {
public:
    static Backdrop& shared();
    Backdrop();
    ~Backdrop() override;

    Config c;
    // Laid-out paddings in image pixels (whole numbers, never negative).
    double padBT = 0, padBB = 0, padBL = 0, padBR = 0;
    double padCT = 0, padCB = 0, padCL = 0, padCR = 0;

    // What the layout reads of the editor; defaults to the editor's viewport
    // and object manager, tests replace them.
    std::function<services::Rect()> sourceRect;
    std::function<double()> pixelRatio;
    std::function<std::optional<services::Rect>()> objectBounds;  // content bounds, image coordinates
    std::function<void(const std::string& title, const std::string& text)> notify;
    // The screenshot's pixels and crop (taken under the core's image lock).
    std::function<imaging::Capture()> capture;
    // Crops the screenshot to an absolute rectangle (pixels, rows from the top).
    std::function<bool(const services::Rect&)> cropAbsolute;
    std::function<services::Rect()> currentCrop;

    std::shared_ptr<kit::Layer> lbackdrop() const override { return root_; }
    int isOn() const override { return c.isOn; }
    Paddings paddings() const override;
    void applyConfig(const kit::Json& config) override;
    std::string configJSON(bool comparable) const override;
    bool handleHotkey(int keyCode, bool shift, bool command, bool option, bool control,
                      const std::string& chars) override;
    void layout() override;
    std::optional<services::Rect> outerOrigin() const override;
    services::Rect canvasOrigin() const;
    double innerRadiusPx() const override { return innerPx_; }
    double outerRadiusPx() const override { return outerPx_; }
    double canvasPixelCount() const override;
    kit::Json telemetryInfo() const override;
    void setup(bool light) override;
    void toggle(const std::string& method) override;
    void turnOff() override;
    void updateTransforms() override;
    std::optional<kit::Color> bestCanvasColor() const override;
    void blurMeshForExport() override;
    bool loadNewFile(const std::string& file, const std::string& method) override;
    std::shared_ptr<kit::View> panelView() override;
    void updateControls() override;
    void rememberCustomColors() override;

    // The composition: the screenshot with every padding around it (the
    // editor's "Image size" and the exported picture's size).
    services::Rect imageSizeWithBackdrop() const;

    // Trims the screenshot's uniform borders (autoCrop on) or gives back the
    // crop it had before (off); true when the crop changed.
    bool applyAutoCrop();
    // After a change of the look: lays out, redraws and refits the view when
    // the composition's size changed.
    void configChanged(bool refit);
    // The panel, created on first use.
    BackdropViewController* controller() { return panel_.get(); }

    // Reads the stored configuration (keeps the defaults when it is bad).
    void load();
    void store() const;
    // Recomputes paddings and radii and rebuilds the layers without
    // touching the editor's zoom.
    void computeLayout();

    static constexpr double kMaxMegapixels = 15;

    // The custom picture of image mode, or a null image with the reason.
    kit::Image customImage(const std::string& name, std::string* error);

private:
    void computePaddings();
    void buildLayers();
    void buildFill(const services::Rect& o);
    void buildMesh(const services::Rect& o);
    bool buildImage(const services::Rect& o);
    void buildNoise(const services::Rect& o);

    std::shared_ptr<kit::Layer> root_;
    std::shared_ptr<kit::GradientLayer> gradient_;
    std::shared_ptr<kit::Layer> mesh_, image_, noise_;
    std::shared_ptr<kit::Layer> shadow_;
    double innerPx_ = 0, outerPx_ = 0;
    std::string meshKey_, noiseKey_, shadowKey_;
    double shadowMargin_ = 0;

    mutable std::mutex fileLock_;  // the picture cache
    std::map<std::string, kit::Image> pictures_;
    std::string failedPicture_;  // told once, not on every layout
    // Counts the pictures handed in; one stored while a later one was read
    // is kept but not chosen.
    uint64_t picturesHandedIn_ = 0;

    mutable std::mutex canvasLock_;  // the canvas colour cache
    mutable std::weak_ptr<const void> colorStorage_;
    mutable kit::Rect colorCrop_;
    mutable std::optional<kit::Color> colorCached_;

    // The crop before the automatic crop trimmed it, and what it trimmed to.
    std::optional<services::Rect> autoCropFrom_, autoCropTo_;

    std::unique_ptr<BackdropViewController> panel_;
};

// The shared backdrop's composition (see Backdrop::imageSizeWithBackdrop).
services::Rect imageSizeWithBackdrop();

}  // namespace backdrop
