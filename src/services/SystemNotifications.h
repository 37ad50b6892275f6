#pragma once
// The desktop's notification service, as the notifier uses it: ask whether
// notices may be shown, then post one. The desktop implementation lives over
// kit; tests install a double.
#include <functional>
#include <memory>
#include <string>

namespace services {

class SystemNotifications {
public:
    virtual ~SystemNotifications() = default;
    // Whether notices (with a sound when `withSound`) may be shown. `answer`
    // may run on any thread, now or later.
    virtual void requestAuthorization(bool withSound, std::function<void(bool granted)> answer) = 0;
    // Shows a notice at once under a fresh identifier; `clicked` runs on the
    // main thread when the user clicks it (or its default action).
    virtual void post(const std::string& identifier, const std::string& title, const std::string& body,
                      bool criticalSound, std::function<void()> clicked) = 0;
};

// The service of this desktop. Not authorised when nothing answers.
std::shared_ptr<SystemNotifications> desktopNotifications();

}  // namespace services
