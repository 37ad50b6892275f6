// The upload command, the uploads gallery link and the companion uploader's
// hand-off and callbacks, as the application core runs them.
#include <chrono>
#include <cmath>

#include "core/AppExports.h"
#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "core/FileNameTemplate.h"
#include "core/Uploader.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Process.h"
#include "kit/desktop/Workspace.h"
#include "kit/ui/Pasteboard.h"
#include "services/Alerts.h"
#include "services/Console.h"
#include "services/Crypti.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/Site.h"
#include "services/Telemetry.h"

namespace core {

namespace {

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool lettersAndDigits(const std::string& text) {
    for (unsigned char c : text)
        if (!(c < 0x80 && std::isalnum(c))) return false;
    return true;
}

std::string trimmedToken(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    size_t a = text.find_first_not_of(space);
    if (a == std::string::npos) return {};
    return text.substr(a, text.find_last_not_of(space) - a + 1);
}

// Whether the desktop knows a program for plim:// links; true when it cannot tell.
bool companionHandlerKnown() {
    for (const char* tool : {"/usr/bin/xdg-mime", "/usr/local/bin/xdg-mime"}) {
        if (!kit::files::exists(tool)) continue;
        std::string out;
        kit::Process query(tool, {"query", "default", "x-scheme-handler/plim"});
        auto result = query.run([&out](std::string_view chunk) { out.append(chunk); });
        if (!result.launched) return true;
        return out.find_first_not_of(" \t\r\n") != std::string::npos;
    }
    return true;
}

constexpr const char* kHandOffFunction = "plimImage(callback:)";

// The desktop's opener for a link the URL parser of the toolkit refuses: the
// plim links carry their payload where a host name would be.
std::optional<std::string> desktopOpener() {
    for (const char* tool : {"/usr/bin/xdg-open", "/usr/local/bin/xdg-open"})
        if (kit::files::exists(tool)) return std::string(tool);
    return std::nullopt;
}

// Opens a plim:// link; a failure that shows only later is reported then.
bool openCompanionLink(const std::string& url, services::Notifier& notifier) {
    auto opener = desktopOpener();
    if (!opener) return kit::Workspace::openURL(url);
    kit::globalQueue().async([opener = *opener, url, &notifier] {
        kit::ProcessResult result = kit::Process(opener, {url}).run();
        if (!result.launched || result.exitCode != 0)
            kit::dispatchMain([&notifier] {
                notifier.warning("Can't hand the image over", "The companion uploader could not be reached.");
            });
    });
    return true;
}

}  // namespace

void AppLogic::openURLString(const std::string& text) {
    if (isWebLink(text)) kit::Workspace::openURL(text);
}

// ---- upload command ---------------------------------------------------------------------

void AppLogic::uploadImage(const std::string& /*method*/) {
    if (imgPrecompiled_.isNull()) {
        services::consoleLine("NOTE: No image to upload");
        return;
    }
    if (settings().uploadMode() == "plim") {
        if (plimImage()) hideMainWindow();
        return;
    }
    if (settings().token().empty()) {
        const std::string message =
            "You need a token to be able to upload image to the server. To get one, visit: \n\n " +
            services::productSiteURL("/kb/upload");
        // The token goes into the request as it is: letters and digits only.
        for (;;) {
            std::string entered = askToken_ ? askToken_("Provide a Token", message)
                                            : services::promptText("Provide a Token", message, "");
            if (entered.empty()) break;
            std::string token = trimmedToken(entered);
            if (!lettersAndDigits(token)) {
                services::alert("Invalid Token",
                                "A token is made of letters and digits only. Please try again.");
                continue;
            }
            settings().setToken(token);
            shell().setUploadsItemVisible(!token.empty());
            break;
        }
    }
    const std::string token = settings().token();
    if (token.empty()) {
        notifier().warning("Upload Failed", "Can't upload file without a token");
        return;
    }
    kit::Image image = compileImage();
    if (image.isNull()) {
        telemetry().oops("uploadImage(token:callback:)", "No image to save");
        return;
    }
    hideMainWindow();
    services::timerStart("uploadImage");
    const std::string name = exports().exporter.fileName(std::string(kUploadFileNameTemplate));
    std::weak_ptr<int> alive = life_;
    core::uploadImage(image, exports().host.dpr(), name, token,
                      uploadTarget(settings().storage().string("uploadEndpoint")), telemetry(),
                      [this, alive](const UploadResult& result) {
                          if (alive.lock()) uploadFinished(result.link, result.error);
                      });
}

void AppLogic::uploadFinished(const std::string& url, const std::string& error) {
    if (error.empty()) {
        telemetry().event("uploadImage", {{"objectsCount", exports().host.objectsCount()},
                                          {"objects", exports().host.typeLetters()},
                                          {"timer", services::timerElapsedText("uploadImage")}});
        auto& board = kit::Pasteboard::general();
        board.clearContents();
        board.setString(url);
        notifier().notify("URL copied to the clipboard", shownText(url), std::nullopt, std::string("Manage"),
                          std::nullopt, [this] {
                              telemetry().preset("goto:uploads", {{"method", "notificationClick"}});
                              gotoUploads("notification");
                          });
        return;
    }
    if (error.find("token") != std::string::npos) {
        settings().setToken("");
        shell().setUploadsItemVisible(false);
        services::alertOnMain("Upload Failed", "Invalid Token");
        return;
    }
    services::alertOnMain("Upload Failed", shownText(error));
    services::consoleLine("NOTE: Unknown Network Error " + shownText(error));
}

// ---- uploads gallery --------------------------------------------------------------------

bool AppLogic::gotoUploads(const std::string& method) {
    const std::string token = settings().token();
    if (token.empty()) {
        telemetry().oops("gotoUploads(method:)", "User without token executed goToUploads()");
        return false;
    }
    const auto now = int64_t(std::floor(secondsNow()));
    const std::string code = galleryCode(token, now, int(services::randomInt(0, 33)) + 1);
    telemetry().event("goto:uploads", {{"method", method}});
    const std::string url = services::productSiteURL("/gallery.html?code=" + code);
    if (!isWebLink(url)) return false;
    if (openURL_) return openURL_(url);
    kit::Workspace::openURL(url);
    return true;
}

// ---- companion uploader -----------------------------------------------------------------

bool AppLogic::plimImage() {
    auto warn = [this](const std::string& message) {
        notifier().warning("Can't hand the image over", message);
        return false;
    };
    kit::Image image = compileImage();
    if (image.isNull()) {
        telemetry().oops(kHandOffFunction, "No image to save");
        return false;
    }
    SizedImage sized = getImgDataBelow(image, kUploadLimitMB, exports().host.dpr(), telemetry());
    if (!sized.data) {
        telemetry().oops(kHandOffFunction, "Can't get image data");
        return warn("The image could not be encoded.");
    }
    auto folder = companionFolder();
    if (!folder) return warn("The folder shared with the companion uploader could not be made.");
    const double now = secondsNow();
    cleanupCompanionFolder(*folder, now);
    const std::string name = exports().exporter.fileName(std::string(kUploadFileNameTemplate)) + sized.suffix;
    const std::string path = *folder + "/" + name;
    std::string error;
    if (!kit::files::writeAtomic(
            path, std::string_view(reinterpret_cast<const char*>(sized.data->data()), sized.data->size()),
            0600, &error)) {
        telemetry().oops(kHandOffFunction, error);
        return warn("The image could not be written: " + shownText(error));
    }
    Exporter::setXattr(path);
    auto sealed = services::Crypti::sealForCompanion(companionMessage(now, name), integrationToken());
    if (!sealed || sealed->empty()) {
        kit::files::remove(path);
        telemetry().oops(kHandOffFunction, "Can't seal the message");
        return warn("The message to the companion uploader could not be sealed.");
    }
    const std::string url = "plim://upload=" + percentEncodeStrict(*sealed);
    if (!openURL_ && !companionHandlerKnown()) {
        kit::files::remove(path);
        return warn("No companion uploader is installed to take plim:// links.");
    }
    const bool opened = openURL_ ? openURL_(url) : openCompanionLink(url, notifier());
    if (!opened) {
        kit::files::remove(path);
        telemetry().oops(kHandOffFunction, "Failed to construct URL");
        return warn("The companion uploader could not be reached.");
    }
    return true;
}

void AppLogic::handlePlimCommand(const std::string& command, const std::optional<std::string>& payload) {
    auto open = [this](const std::string& url) {
        openURL_ ? openURL_(url) : openCompanionLink(url, notifier());
    };
    if (command == "plim/connect") {
        settings().setUploadMode("plim");
        open("plim://kadrix/connected");
    } else if (command == "plim/disconnect") {
        settings().setUploadMode("cloud");
        open("plim://kadrix/disconnected");
    } else if (command == "plim/pong") {
        services::timerLog("QuoberPing");
    } else if (command == "plim/ready") {
        const char* title = "Upload Succeeded";
        const char* message = "The image uploaded to your custom storage";
        if (auto link = companionReportLink(payload, secondsNow()))
            notifier().notify(title, message, std::nullopt, std::string("Open"), std::nullopt,
                              [link = *link] { openURLString(link); });
        else
            notifier().notify(title, message);
    } else if (command == "plim/fail") {
        notifier().warning("Upload Failed!",
                           "For better or worse, we failed to put the file in your storage");
    } else if (command == "plim/off") {
        notifier().warning("Upload Integration is Off", "Enable Kadrix integration in Quober");
    }
}

}  // namespace core
