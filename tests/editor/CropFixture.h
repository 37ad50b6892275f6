#pragma once
// A viewport and a recording core for the crop tool and ruler tests: zoom 1,
// no pan, the image (0, 0, width, height) and a capture the test paints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/CanvasLayers.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "imaging/Capture.h"
#include "kit/base/Event.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"

namespace editor::test {

struct RecordingCore : CoreHost {
    imaging::Capture shot;
    std::vector<std::string> calls;

    imaging::Capture capture() const override { return shot; }
    kit::Image imgPrecompiled() const override { return shot.pixels; }
    void selectionModeChanged(const std::string& mode) override { calls.push_back("mode:" + mode); }
    void setRealPixels(bool on) override {
        services::Settings::shared().storeBool("realPixels", on);
        calls.push_back(on ? "realPixels:on" : "realPixels:off");
    }
    void copyText(const std::string& text, const std::string& title, const std::string&,
                  std::optional<kit::Color>) override {
        calls.push_back("copyText:" + text + "|" + title);
    }
    void copyImage(bool selection, bool) override {
        calls.push_back(selection ? "copyImage:sel" : "copyImage");
    }
    void cropToSelection(bool) override { calls.push_back("cropToSelection"); }
    void ocrSelection(const std::string&) override { calls.push_back("ocrSelection"); }
    void quitOrHide(const std::string&) override { calls.push_back("quitOrHide"); }
    void uploadImage(const std::string&) override { calls.push_back("uploadImage"); }
    void hideMainWindow() override { calls.push_back("hideMainWindow"); }
    void saveImage(const std::string&, bool) override { calls.push_back("saveImage"); }
    void pinImage(std::optional<double>, std::optional<double>) override { calls.push_back("pinImage"); }
    void addCaptureToScreenshot(const std::string&) override { calls.push_back("addCapture"); }
    void selectTool(const std::string& type, const std::string& method) override {
        calls.push_back("selectTool:" + type + "|" + method);
    }
    void refreshCropButton() override { calls.push_back("refreshCropButton"); }
    void checkBackdropAllowed(const std::string&) override { calls.push_back("checkBackdropAllowed"); }
    void selectConcealTool() override { calls.push_back("selectConcealTool"); }
    void selectRectangleTool() override { calls.push_back("selectRectangleTool"); }
    void updateStatus() override { calls.push_back("updateStatus"); }
    std::string colorCopyString() const override { return "#ABCDEF"; }
};

// Image builders in image pixels (y up from the bottom).
inline kit::Image solidImage(int w, int h, int r, int g, int b) {
    kit::Image img(w, h);
    img.fill(kit::Color::rgb(r, g, b));
    return img;
}
inline void paintUp(kit::Image& img, int x, int y, int w, int h, int r, int g, int b) {
    for (int row = img.height() - y - h; row < img.height() - y; ++row)
        for (int col = x; col < x + w; ++col)
            img.setPixel(col, row, {uint8_t(b), uint8_t(g), uint8_t(r), 255});
}

class CropFixture : public ::testing::Test {
protected:
    RecordingCore core;
    std::vector<std::string> undoLabels;
    kit::ManualClockScope clock;

    void SetUp() override {
        services::Settings::shared().storeBool("allowTelemetry", false);
        services::Settings::shared().storeBool("realPixels", false);
        setCore(&core);
        editor::editorHooks().undoSave = [this](const std::string& label) { undoLabels.push_back(label); };
        objects::PressedKeys::shared().pressed.clear();
        canvasLayers().relayoutRequest = 0;
        useImage(solidImage(400, 300, 255, 255, 255));
        viewport(1, 1);
    }
    void TearDown() override {
        setCore(nullptr);
        editor::editorHooks().undoSave = nullptr;
        objects::PressedKeys::shared().pressed.clear();
    }

    void useImage(const kit::Image& img) {
        core.shot = imaging::Capture::of(img);
        editor::Framer& f = editor::Framer::shared();
        f.crop = f.source = f.original = {0, 0, double(img.width()), double(img.height())};
    }
    // Zoom and device-pixel ratio, no pan, a 600 × 400 point canvas.
    void viewport(double zoom, double dpr) {
        editor::Framer& f = editor::Framer::shared();
        f._zoom.set(zoom);
        f._dpr.set(dpr);
        f.area = {0, 0, 600 * dpr, 400 * dpr};
        f.setOffset({0, 0}, {0, 0});
    }
    void realPixels(bool on) { services::Settings::shared().storeBool("realPixels", on); }
    // A mouse or key event at a time, with modifier flags.
    static kit::Event event(double t, uint32_t flags = 0) {
        kit::Event e;
        e.timestamp = t;
        e.modifierFlags = flags;
        return e;
    }
    bool called(const std::string& call) const {
        return std::find(core.calls.begin(), core.calls.end(), call) != core.calls.end();
    }
};

}  // namespace editor::test
