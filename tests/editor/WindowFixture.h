#pragma once
// Doubles for the editor window's tests: the editor pieces behind the
// window's one interface, and the core, each recording what it was asked.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/EditorHost.h"
#include "editor/MainWindowController.h"
#include "editor/MainWindowControllerParts.h"
#include "kit/base/Dispatch.h"

namespace editor {

struct RecordingParts : WindowParts {
    std::vector<std::string> calls;
    std::vector<KeyEvt> downs, ups;
    std::string armed;
    std::string type;  // the active object's class name
    bool hasActive = false;
    std::map<std::string, std::string> values;
    std::vector<std::pair<std::string, std::string>> written;
    std::vector<std::string> palette;
    bool crop = false;
    bool editing = false;
    int flushes = 0;

    void keyDown(const KeyEvt& k, const kit::Event*) override { downs.push_back(k); }
    void keyUp(const KeyEvt& k, const kit::Event*) override { ups.push_back(k); }
    void relayoutCanvas(bool animated) override {
        calls.push_back(animated ? "relayout:animated" : "relayout");
    }
    void flushRelayoutRequest() override { ++flushes; }
    void setRelayoutRequest(int level) override { calls.push_back("request:" + std::to_string(level)); }
    std::string createOnClick() const override { return armed; }
    void setCreateOnClick(const std::string& t) override { armed = t; }
    void deactivate() override { calls.push_back("deactivate"); }
    std::string activeType() const override { return type; }
    std::optional<std::string> toolValue(const std::string& key) const override {
        auto it = values.find(key);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    void setToolValue(const std::string& key, const std::string& value) override {
        written.emplace_back(key, value);
    }
    std::vector<std::string> activePalette() const override { return palette; }
    bool isEditing() const override { return editing; }
    bool cropOn() const override { return crop; }
    services::Rect cropSelection() const override { return {10, 20, 101.6, 51.2}; }
    void growSelection() override { calls.push_back("growSelection"); }
    void actionAdjust() override { calls.push_back("actionAdjust"); }
    void resetCropTool() override { calls.push_back("resetCropTool"); }
    void undo() override { calls.push_back("undo"); }
};

struct RecordingCore : CoreHost {
    std::vector<std::string> calls;
    kit::Image image;
    kit::Image imgSource() const override { return image; }
    kit::Image compileImage() override { return image; }
    bool loadImage(const kit::Image& img, bool soft) override {
        calls.push_back(std::string("loadImage ") + std::to_string(img.width()) + "x" +
                        std::to_string(img.height()) + (soft ? " soft" : ""));
        image = img;
        return !img.isNull();
    }
    void selectTool(const std::string& type, const std::string& method) override {
        calls.push_back("selectTool " + type + " " + method);
    }
    void hideMainWindow() override { calls.push_back("hideMainWindow"); }
    void copyImage(bool, bool) override { calls.push_back("copyImage"); }
    void saveImage(const std::string& m, bool) override { calls.push_back("saveImage " + m); }
    void pinImage(std::optional<double>, std::optional<double>) override { calls.push_back("pinImage"); }
    void ocrSelection(const std::string& m) override { calls.push_back("ocrSelection " + m); }
    void addCaptureToScreenshot(const std::string& m) override { calls.push_back("addCapture " + m); }
    void checkBackdropAllowed(const std::string& m) override { calls.push_back("backdrop " + m); }
    void selectionModeChanged(const std::string& mode) override { calls.push_back("mode " + mode); }
    void selectRulerTool() override { calls.push_back("selectRulerTool"); }
    void selectConcealTool() override { calls.push_back("selectConcealTool"); }
    void refreshCropButton() override { calls.push_back("refreshCropButton"); }
};

// Installs fresh doubles for each test; the window is made once for the
// process (as in the program) and reads the doubles through the interfaces.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        setParts(&parts_);
        setCore(&core_);
        c = &MainWindowController::shared();
        // The window is the process's: each test starts it out of the
        // selection mode a test before may have left it in.
        c->applySelectionMode("default");
        // The first test of a process makes the window: what that does is
        // no test's business.
        kit::processMainEvents();
        parts_.calls.clear();
        parts_.flushes = 0;
        core_.calls.clear();
    }
    void TearDown() override {
        setCore(nullptr);
        setParts(nullptr);
    }
    RecordingParts parts_;
    RecordingCore core_;
    MainWindowController* c = nullptr;
};

}  // namespace editor
