#pragma once
// The backdrop a screenshot can be placed on: a gradient or a flat colour
// around the screenshot, with padding, rounded corners and a soft shadow.
// One shared instance implements the editor's BackdropHost; its layer tree
// sits under the editor's object layers and is drawn into exports by the
// core's compile step. Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/EditorHost.h"
#include "kit/Color.h"
#include "kit/GradientLayer.h"
#include "kit/Json.h"
#include "kit/Layer.h"
#include "services/Rect.h"

namespace backdrop {

struct RGBColor {
    double r = 0, g = 0, b = 0;
    friend bool operator==(const RGBColor&, const RGBColor&) = default;
    kit::Color color(double alpha = 1) const { return {r, g, b, alpha}; }
};

// The stored configuration. Lengths are in points (multiplied by the
// screen's pixel ratio when laid out); the stored values are kept as given,
// only the effective paddings and radii derived from them are clamped.
struct Config {
    int isOn = 0;
    std::string mode = "gradient";  // "gradient", "mesh", "flat" or "image"
    RGBColor gradientStart{0.35, 0.47, 0.98};
    RGBColor gradientEnd{0.82, 0.36, 0.84};
    RGBColor flatColor{0.91, 0.92, 0.94};
    std::vector<RGBColor> meshColors{{0.98, 0.56, 0.42}, {0.42, 0.52, 0.98}, {0.55, 0.86, 0.78}, {0.96, 0.82, 0.45}};
    int meshSeed = 1;
    double angle = 135;       // gradient direction in degrees, 0 = left to right, counter-clockwise
    double noise = 0;         // grain strength 0…1
    double padding = 48;      // around the screenshot
    double inset = -1;        // space around the screenshot in its own edge colour; -1 none
    int autoCrop = 0;         // 1: trim uniform borders of the screenshot before framing
    double innerRadius = 10;  // corners of the screenshot
    double outerRadius = 0;   // corners of the whole picture
    double shadow = 0.5;      // shadow opacity 0…1
    double shadowRadius = 24;
    std::string ratio = "auto";  // "auto" or "w:h"
    std::string imageName;       // the custom picture in image mode
    std::string templateName;    // the template last chosen; empty when edited by hand
    int version = 1;

    kit::Json toJson() const;
    // Sets the keys present in `j`, keeping the others; a key of the wrong
    // type is an error and leaves the configuration untouched.
    bool apply(const kit::Json& j, std::string* error = nullptr);
};

class Backdrop : public editor::BackdropHost {
public:
    static Backdrop& shared();
    Backdrop();

    Config c;
    // Laid-out paddings in image pixels (whole numbers, never negative).
    double padBT = 0, padBB = 0, padBL = 0, padBR = 0;
    double padCT = 0, padCB = 0, padCL = 0, padCR = 0;

    // What the layout reads of the editor; defaults to the editor's viewport
    // and object manager, tests replace them.
    std::function<Rect()> sourceRect;
    std::function<double()> pixelRatio;
    std::function<std::optional<Rect>()> objectBounds;  // content bounds, image coordinates
    std::function<void(const std::string& title, const std::string& text)> notify;

    std::shared_ptr<kit::Layer> lbackdrop() const override { return root_; }
    int isOn() const override { return c.isOn; }
    Paddings paddings() const override;
    void applyConfig(const kit::Json& config) override;
    std::string configJSON(bool comparable) const override;
    bool handleHotkey(int keyCode, bool shift, bool command, bool option, bool control,
                      const std::string& chars) override;
    void layout() override;
    std::optional<Rect> outerOrigin() const override;
    Rect canvasOrigin() const;
    double innerRadiusPx() const override { return innerPx_; }
    double outerRadiusPx() const override { return outerPx_; }
    double canvasPixelCount() const override;
    kit::Json telemetryInfo() const override;
    void setup(bool light) override;
    void toggle(const std::string& method) override;
    void turnOff() override;
    void updateTransforms() override;

    // Reads the stored configuration (keeps the defaults when it is bad).
    void load();
    void store() const;
    // Recomputes paddings and radii and rebuilds the layers without
    // touching the editor's zoom.
    void computeLayout();

    static constexpr double kMaxMegapixels = 15;

private:
    void computePaddings();
    void buildLayers();

    std::shared_ptr<kit::Layer> root_;
    std::shared_ptr<kit::GradientLayer> gradient_;
    std::shared_ptr<kit::Layer> shadow_;
    double innerPx_ = 0, outerPx_ = 0;
};

// A colour randomly chosen for the randomise key (exposed for tests).
RGBColor randomColor(uint32_t& state);

}  // namespace backdrop
