#include "shell/AppLogicLink.h"

#include <sstream>

#include "core/AppLogic.h"
#include "kit/ImageIO.h"
#include "services/Telemetry.h"

namespace shell {

namespace {

core::AppLogic& logic() {
    return core::AppLogic::shared();
}

// The after-capture words ("copy", "save", …) as the core's actions.
std::optional<core::AppLogic::AfterGrab> actions(const AfterGrab& then) {
    if (!then) return std::nullopt;
    core::AppLogic::AfterGrab a;
    for (auto& word : *then) {
        if (word == "copy") a.copy = true;
        if (word == "save") a.save = true;
        if (word == "edit") a.edit = true;
        if (word == "thumbnail") a.thumbnail = true;
        if (word == "upload") a.upload = true;
        if (word == "pin") a.pin = true;
    }
    return a;
}

// "copy,save" (or "copy save") as words.
std::vector<std::string> words(const std::string& list) {
    std::vector<std::string> out;
    std::string word;
    std::istringstream in(list);
    while (std::getline(in, word, ','))
        for (std::istringstream parts(word); parts >> word;) out.push_back(word);
    return out;
}

}  // namespace

void AppLogicLink::yieldFocus() {
    logic().yieldFocus();
}

bool AppLogicLink::openImage(const std::string& file) {
    kit::Image image = kit::ImageIO::read(file);
    if (image.isNull() || !logic().loadImage(image, false)) {
        Telemetry::shared().oops("openImage(file:)", "Failed to open image file");
        return false;
    }
    return true;
}

void AppLogicLink::handleURLCommand(const std::string& /*host*/, const std::string& command,
                                    const std::optional<std::string>& /*value*/,
                                    const std::map<std::string, std::string>& query) {
    if (command == "show") return logic().yieldFocus();
    const std::string grab = "grab/";
    if (command.rfind(grab, 0) == 0) {
        AfterGrab then;
        if (auto it = query.find("then"); it != query.end()) then = words(it->second);
        return grabScreenshot(command.substr(grab.size()), "deeplink", then);
    }
    Telemetry::shared().oops("handleURLCommand(_:)", "Unknown command: " + command);
}

void AppLogicLink::cleanupTempFolder() {
    logic().cleanupTempFolder(std::nullopt);
}

void AppLogicLink::grabScreenshot(const std::string& mode, const std::string& method, const AfterGrab& then) {
    logic().grabScreenshot(mode, method, actions(then));
}

void AppLogicLink::grabDelayed(const std::string& method, const AfterGrab& then) {
    logic().grabDelayed(method, actions(then));
}

void AppLogicLink::selectDefaultFolder() {
    logic().selectDefaultFolder();
}

}  // namespace shell
