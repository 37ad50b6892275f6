#pragma once
// The export commands as the application core runs them: the exporter and
// the save commands over a host that reads the core's screenshot, metadata
// and folders and the editor's layer tree. One per AppLogic, made on first use.
// Main thread only.
#include "core/ExportHost.h"
#include "core/Exporter.h"
#include "core/SaveCommands.h"

namespace core {

class AppLogic;

class AppExportHost : public ExportHost {
public:
    explicit AppExportHost(AppLogic& logic) : logic_(logic) {}

    kit::Image imgPrecompiled() const override;
    kit::LayerPtr objectsLayer() const override;
    kit::Point imageOrigin() const override;
    void prepareObjectLayers() override;
    bool showsScreenshotAlone() const override;
    double dpr() const override;
    std::optional<std::chrono::system_clock::time_point> screenshotDate() const override;
    kit::Json metadata() const override;
    void setMetadata(const kit::Json& metadata) override;
    std::string openedURL() const override;
    std::optional<std::string> folderWithAccessURL() const override;
    void hideMainWindow() override;
    void yieldFocus() override;
    void markFirstHide() override;
    void indexSavedFile(const std::string& path, const kit::Json& metadata) override;
    void indexSavedAsFile(const std::string& path) override;
    void selectDefaultFolder(std::function<void(const std::string&)> whenReady) override;
    void refreshCropButton() override;
    std::optional<kit::Image> preCrop(const kit::Image& image) override;
    void endSelection() override;
    int objectsCount() const override;
    std::string typeLetters() const override;
    std::string textContent() const override;

private:
    AppLogic& logic_;
};

struct AppExports {
    explicit AppExports(AppLogic& logic);
    AppExportHost host;
    Exporter exporter;
    SaveCommands commands;
};

}  // namespace core
