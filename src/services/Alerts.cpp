#include "services/Alerts.h"

#include <future>
#include <mutex>

#include "kit/base/Dispatch.h"
#include "kit/base/WayOut.h"
#include "kit/ui/Application.h"
#include "services/AlertDialog.h"

namespace services {

namespace {
std::mutex presenterMutex;
AlertPresenter& installedPresenter() {
    static AlertPresenter presenter;
    return presenter;
}

AlertAnswer present(const AlertRequest& request) {
    // A tray-only application has no taskbar presence; the alert must be
    // frontmost, so the application becomes a regular one and stays so.
    kit::Application& app = kit::Application::shared();
    if (app.activationPolicy() != kit::ActivationPolicy::Regular) {
        app.setActivationPolicy(kit::ActivationPolicy::Regular);
        app.activate();
    }
    AlertPresenter presenter;
    {
        std::lock_guard guard(presenterMutex);
        presenter = installedPresenter();
    }
    return presenter ? presenter(request) : runAlertDialog(request);
}
}  // namespace

void setAlertPresenter(AlertPresenter presenter) {
    std::lock_guard guard(presenterMutex);
    installedPresenter() = std::move(presenter);
}

void alert(const std::string& title, const std::string& message, std::function<void()> then) {
    // A modal loop runs on the main thread only; from elsewhere the alert is posted there.
    if (!kit::isMainThread()) return alertOnMain(title, message, std::move(then));
    present({title, message, {"OK"}, false, std::nullopt});
    // Cut short as Kadrix ends: the OK was never given.
    if (then && !kit::wayOutBegun()) then();
}

void confirm(const std::string& title, const std::string& message, const std::string& yes,
             const std::string& no, std::function<void(int)> then) {
    if (!kit::isMainThread()) return confirmOnMain(title, message, yes, no, std::move(then));
    AlertAnswer answer = present({title, message, {yes, no}, true, std::nullopt});
    if (then && (answer.button == 0 || answer.button == 1)) then(answer.button + 1);
}

bool askConsent(const std::string& title, const std::string& message) {
    if (!kit::isMainThread()) return false;  // no modal loop off the main thread: not allowed
    AlertRequest request{title, message, {"Allow", "Cancel"}, true, std::nullopt};
    request.cancelOnEscape = true;
    return present(request).button == 0;
}

void confirmOkCancel(const std::string& title, const std::string& message, std::function<void(bool)> then) {
    if (!kit::isMainThread()) return confirmOkCancelOnMain(title, message, std::move(then));
    AlertAnswer answer = present({title, message, {"Ok", "Cancel"}, false, std::nullopt});
    if (then && (answer.button == 0 || answer.button == 1)) then(answer.button == 0);
}

std::string promptText(const std::string& title, const std::string& message, const std::string& value) {
    if (!kit::isMainThread()) {
        // The caller waits for the answer while the main thread asks.
        std::promise<std::string> answer;
        kit::dispatchMain([&] { answer.set_value(promptText(title, message, value)); });
        return answer.get_future().get();
    }
    AlertAnswer answer = present({title, message, {"OK", "Cancel"}, false, value});
    return answer.button == 0 ? answer.text : std::string();
}

void alertOnMain(const std::string& title, const std::string& message, std::function<void()> then) {
    kit::dispatchMain([=] { alert(title, message, then); });
}

void confirmOnMain(const std::string& title, const std::string& message, const std::string& yes,
                   const std::string& no, std::function<void(int)> then) {
    kit::dispatchMain([=] { confirm(title, message, yes, no, then); });
}

void confirmOkCancelOnMain(const std::string& title, const std::string& message,
                           std::function<void(bool)> then) {
    kit::dispatchMain([=] { confirmOkCancel(title, message, then); });
}

}  // namespace services
