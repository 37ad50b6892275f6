#pragma once
// An export test bed: its own settings and telemetry over an in-memory
// database, a core double holding the screenshot and answering the folder
// chooser, a notifier that records instead of showing, and a fresh folder.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ExportHost.h"
#include "core/Exporter.h"
#include "core/SaveCommands.h"
#include "editor/EditorHost.h"
#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Image.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/SystemNotifications.h"
#include "services/Telemetry.h"
#include "support/ScratchFolder.h"

class TestExportHost : public core::ExportHost {
public:
    kit::Image image;
    kit::LayerPtr layer;
    double ratio = 1.0;
    kit::Json meta = kit::Json::object();
    std::optional<std::chrono::system_clock::time_point> date;
    // What the folder chooser answers; none: the user cancels.
    std::optional<std::string> chooserAnswer;
    int chooserRuns = 0, hides = 0, prepares = 0, yields = 0, selectionEnds = 0;
    // The crop tool's selection in pixel rows from the top; none: no selection.
    std::optional<kit::Rect> selection;

    kit::Image imgPrecompiled() const override { return image; }
    kit::LayerPtr objectsLayer() const override { return layer; }
    void prepareObjectLayers() override { ++prepares; }
    bool alone = false;  // what the layers would draw is the screenshot alone
    bool showsScreenshotAlone() const override { return alone; }
    double dpr() const override { return ratio; }
    std::optional<std::chrono::system_clock::time_point> screenshotDate() const override { return date; }
    kit::Json metadata() const override { return meta; }
    void setMetadata(const kit::Json& m) override { meta = m; }
    void hideMainWindow() override { ++hides; }
    void yieldFocus() override { ++yields; }
    std::optional<kit::Image> preCrop(const kit::Image& img) override {
        if (!selection) return std::nullopt;
        return img.cropped(int(selection->minX()), int(selection->minY()), int(selection->width()),
                           int(selection->height()));
    }
    void endSelection() override { ++selectionEnds; }
    void selectDefaultFolder(std::function<void(const std::string&)> whenReady) override {
        ++chooserRuns;
        if (chooserAnswer) whenReady(*chooserAnswer);
    }
};

class TestBackdrop : public editor::BackdropHost {
public:
    Paddings pads;
    int on = 0;
    kit::LayerPtr layer;
    double outer = 0, inner = 0;
    int exportRenders = 0, transformsRestored = 0;
    std::shared_ptr<kit::Layer> lbackdrop() const override { return layer; }
    int isOn() const override { return on; }
    Paddings paddings() const override { return pads; }
    double outerRadiusPx() const override { return outer; }
    double innerRadiusPx() const override { return inner; }
    void blurMeshForExport() override { ++exportRenders; }
    void updateTransforms() override { ++transformsRestored; }
};

class RecordingNotifier : public services::Notifier {
public:
    using services::Notifier::Notifier;
    struct Notice {
        std::string title, message, button;
        bool warning = false;
    };
    std::vector<Notice> notices;
    std::function<void()> lastAction;
    void notify(const std::string& title, const std::string& message, std::optional<kit::Color>,
                std::optional<std::string> button, std::optional<double>,
                std::function<void()> action) override {
        notices.push_back({title, message, button.value_or(""), false});
        lastAction = std::move(action);
    }
    void warning(const std::string& title, const std::string& message) override {
        notices.push_back({title, message, "", true});
    }
};

class NoSystemNotifications : public services::SystemNotifications {
public:
    void requestAuthorization(bool, std::function<void(bool)> answer) override { answer(false); }
    void post(const std::string&, const std::string&, const std::string&, bool,
              std::function<void()>) override {}
};

class ExportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        storage = std::make_unique<kit::Defaults>("");
        settings = std::make_unique<services::Settings>(*storage);
        telemetry = std::make_unique<services::Telemetry>(
            *settings,
            [](const std::string&, const std::vector<services::EventRecord>&, services::PostCompletion) {});
        settings->setTelemetry(telemetry.get());
        notifier = std::make_unique<RecordingNotifier>(*settings, *telemetry,
                                                       std::make_shared<NoSystemNotifications>());
        editor::setBackdrop(&backdrop);
        exporter = std::make_unique<core::Exporter>(host, *settings, *telemetry);
        scratch.emplace();
        folder = scratch->file("saves");
    }
    void TearDown() override {
        commands.reset();
        exporter.reset();
        editor::setBackdrop(nullptr);
        scratch.reset();
    }
    core::SaveCommands& cmds() {
        if (!commands)
            commands = std::make_unique<core::SaveCommands>(*exporter, *settings, *telemetry, *notifier);
        return *commands;
    }
    // An opaque image of one colour.
    static kit::Image solid(int w, int h, kit::Color c) {
        kit::Image img(w, h);
        img.fill(c);
        return img;
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        if (!std::filesystem::exists(folder)) return out;
        for (auto& e : std::filesystem::directory_iterator(folder))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> eventTypes() const {
        std::vector<std::string> out;
        for (auto& record : telemetry->events()) out.push_back(record.value("type", ""));
        return out;
    }

    TestExportHost host;
    TestBackdrop backdrop;
    std::unique_ptr<kit::Defaults> storage;
    std::unique_ptr<services::Settings> settings;
    std::unique_ptr<services::Telemetry> telemetry;
    std::unique_ptr<RecordingNotifier> notifier;
    std::unique_ptr<core::Exporter> exporter;
    std::unique_ptr<core::SaveCommands> commands;
    std::optional<testsupport::ScratchFolder> scratch;
    std::string folder;
};

// Colours the export tests draw with.
inline const kit::Color red{1, 0, 0, 1}, blue{0, 0, 1, 1};
