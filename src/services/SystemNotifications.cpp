#include "services/SystemNotifications.h"

#include "kit/desktop/UserNotifications.h"

namespace services {

namespace {
// The freedesktop notification service on the session bus. Without a server
// that answers, notices are not authorised and the notifier shows its toast.
class DesktopNotifications : public SystemNotifications {
public:
    void requestAuthorization(bool, std::function<void(bool)> answer) override {
        kit::UserNotifications::requestAuthorization(std::move(answer));
    }
    void post(const std::string&, const std::string& title, const std::string& body, bool criticalSound,
              std::function<void()> clicked) override {
        kit::UserNotifications::Notification notification;
        notification.title = title;
        notification.body = body;
        notification.sound = criticalSound;
        notification.warning = criticalSound;
        kit::UserNotifications::post(notification, std::move(clicked));
    }
};
}  // namespace

std::shared_ptr<SystemNotifications> desktopNotifications() {
    static auto service = std::make_shared<DesktopNotifications>();
    return service;
}

}  // namespace services
