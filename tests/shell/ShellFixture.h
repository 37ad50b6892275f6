#pragma once
// Recording doubles of the core and the editor for the shell's tests, and a
// look at the telemetry queue.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "editor/EditorHost.h"
#include "kit/base/Json.h"
#include "services/Telemetry.h"
#include "shell/CoreLink.h"
#include "support/TelemetryQueue.h"

namespace shelltest {

struct RecordingCore : shell::CoreLink {
    std::vector<std::string> calls;
    bool openResult = true;
    bool prefsVisible = false;
    std::vector<std::map<std::string, std::string>> queries;
    std::vector<std::optional<std::string>> values;

    static std::string then(const shell::AfterGrab& t) { return t ? "then" : "-"; }
    void yieldFocus() override { calls.push_back("yieldFocus"); }
    bool openImage(const std::string& file, std::function<void()> shown) override {
        calls.push_back("openImage " + file);
        if (openResult && shown) shown();
        return openResult;
    }
    void handleURLCommand(const std::string& host, const std::string& command,
                          const std::optional<std::string>& value,
                          const std::map<std::string, std::string>& query) override {
        calls.push_back("url " + host + " " + command);
        values.push_back(value);
        queries.push_back(query);
        if (urlCommandsRun) urlCommandsRun(host, command, value, query);
    }
    // When set, commands also run through it (a test hands them to the real command table).
    std::function<void(const std::string&, const std::string&, const std::optional<std::string>&,
                       const std::map<std::string, std::string>&)>
        urlCommandsRun;
    void cleanupTempFolder() override { calls.push_back("cleanupTempFolder"); }
    void grabScreenshot(const std::string& mode, const std::string& method,
                        const shell::AfterGrab& t) override {
        calls.push_back("grab " + mode + " " + method + " " + then(t));
    }
    void startScrollingCapture(int direction, const std::string& method, const shell::AfterGrab& t) override {
        calls.push_back("scrolling " + std::to_string(direction) + " " + method + " " + then(t));
    }
    void startManualScrollingCapture(const std::string& method, const shell::AfterGrab& t) override {
        calls.push_back("manual " + method + " " + then(t));
    }
    void grabDelayed(const std::string& method, const shell::AfterGrab& t) override {
        calls.push_back("delayed " + method + " " + then(t));
    }
    void instantOCR(const std::string& method) override { calls.push_back("ocr " + method); }
    void loadFromClipboard(const std::string& method) override { calls.push_back("clipboard " + method); }
    void openImageDialog() override { calls.push_back("openImageDialog"); }
    void gotoUploads(const std::string& method) override { calls.push_back("uploads " + method); }
    void selectDefaultFolder(std::function<void()> whenReady) override {
        calls.push_back("selectDefaultFolder");
        folderReady = std::move(whenReady);
    }
    std::function<void()> folderReady;
    void saveImageAs(const std::optional<std::string>&, const std::string& name) override {
        calls.push_back("saveImageAs " + name);
    }
    void rasterize() override { calls.push_back("rasterize"); }
    void printImage(const kit::Image&) override { calls.push_back("printImage"); }
    bool preferencesVisible() const override { return prefsVisible; }
};

struct RecordingEditor : shell::EditorLink {
    std::vector<std::string> calls;
    bool editing = false;
    int pending = 0;
    void zoom(Zoom z) override { calls.push_back("zoom " + std::to_string(int(z))); }
    bool isEditingText() const override { return editing; }
    void updateCursor() override { calls.push_back("updateCursor"); }
    int pendingChange() const override { return pending; }
    void setPendingChange(int v) override { pending = v; }
    void relayoutCanvas(bool sizeChanged) override {
        calls.push_back(sizeChanged ? "relayout 2" : "relayout 1");
    }
    void redrawToolbar() override { calls.push_back("redrawToolbar"); }
};

struct RecordingEditorCore : editor::CoreHost {
    std::vector<std::string> calls;
    kit::Window* window = nullptr;
    kit::Window* winMain() const override { return window; }
    void copyImage(bool, bool) override { calls.push_back("copyImage"); }
    void saveImage(const std::string& method, bool) override { calls.push_back("saveImage " + method); }
    void selectTool(const std::string& type, const std::string& method) override {
        calls.push_back("selectTool " + type + " " + method);
    }
    void uncrop() override { calls.push_back("uncrop"); }
    void setRealPixels(bool on) override { calls.push_back(on ? "realPixels on" : "realPixels off"); }
    void quitOrHide(const std::string& method) override { calls.push_back("quitOrHide " + method); }
    void pinImage(std::optional<double>, std::optional<double>) override { calls.push_back("pinImage"); }
    void addCaptureToScreenshot(const std::string& method) override {
        calls.push_back("addCapture " + method);
    }
    void uploadImage(const std::string& method) override { calls.push_back("uploadImage " + method); }
    void ocrSelection(const std::string& method) override { calls.push_back("ocrSelection " + method); }
    // A screenshot to print.
    kit::Image compileImage() override { return kit::Image(4, 4); }
    std::string fileName() const override { return "SCR-name"; }
};

// Installs the doubles for one test and removes them after; each test
// counts its events in a telemetry queue of its own.
class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::emptyTelemetryQueue();
        shell::setCoreLink(&core);
        shell::setEditorLink(&editorParts);
        editor::setCore(&editorCore);
    }
    void TearDown() override {
        shell::setCoreLink(nullptr);
        shell::setEditorLink(nullptr);
        editor::setCore(nullptr);
    }

    // The queued events of that type, oldest first.
    static std::vector<kit::Json> events(const std::string& type) {
        std::vector<kit::Json> out;
        for (auto& e : services::Telemetry::shared().events())
            if (e.value("type", "") == type) out.push_back(e);
        return out;
    }

    RecordingCore core;
    RecordingEditor editorParts;
    RecordingEditorCore editorCore;
};

}  // namespace shelltest
