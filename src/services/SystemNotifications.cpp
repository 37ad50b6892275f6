#include "services/SystemNotifications.h"

namespace {
// Until the desktop's notification service is reachable from here, notices
// are not authorised and the notifier shows its own toast instead.
class UnavailableNotifications : public SystemNotifications {
public:
    void requestAuthorization(bool, std::function<void(bool)> answer) override {
        if (answer) answer(false);
    }
    void post(const std::string&, const std::string&, const std::string&, bool,
              std::function<void()>) override {}
};
}  // namespace

std::shared_ptr<SystemNotifications> desktopNotifications() {
    static auto service = std::make_shared<UnavailableNotifications>();
    return service;
}
