#include "core/ObjectsBridge.h"

#include <memory>

#include "core/AppLogic.h"
#include "editor/EditorHost.h"
#include "objects/ObjectsCore.h"

namespace core {

namespace {

class ObjectsBridge : public objects::ObjectsCore {
public:
    explicit ObjectsBridge(AppLogic& logic) : logic_(logic) {}
    AppLogic& logic() const { return logic_; }

    imaging::Capture capture() const override { return logic_.capture(); }
    void selectionModeChanged(const std::string& mode) override { logic_.selectionModeChanged(mode); }
    void refreshToolSettings() override { logic_.refreshToolSettings(); }
    void updateStatus() override { logic_.updateStatus(); }
    // The before/after GIF belongs to the exporter's commands; no folder yet: "".
    void saveGIF(const kit::Image& img1, const kit::Image& img2, double delay,
                 const std::string& folder) override {
        logic_.saveGIF(img1, img2, delay, folder.empty() ? std::nullopt : std::optional<std::string>(folder));
    }

private:
    AppLogic& logic_;
};

std::unique_ptr<ObjectsBridge>& bridge() {
    static std::unique_ptr<ObjectsBridge> b;
    return b;
}

}  // namespace

void installObjectsBridge(AppLogic& logic) {
    bridge() = std::make_unique<ObjectsBridge>(logic);
    editor::setObjectsCore(bridge().get());
    publishToObjects(logic);
}

void uninstallObjectsBridge(AppLogic& logic) {
    if (!bridge() || &bridge()->logic() != &logic) return;
    editor::setObjectsCore(nullptr);
    bridge().reset();
}

void publishToObjects(AppLogic& logic) {
    if (!bridge() || &bridge()->logic() != &logic) return;
    bridge()->imgSource = logic.imgSource();
    bridge()->imgPrecompiled = logic.imgPrecompiled();
}

}  // namespace core
