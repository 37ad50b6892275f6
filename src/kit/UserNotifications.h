#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus. Without a service that answers, notifications are not
// authorised and the caller shows its own fallback.
#include <cstdint>
#include <functional>
#include <string>

namespace kit::UserNotifications {

// Asks whether a notification server answers; `answer` runs on the main
// thread (at once when there is no session bus).
void requestAuthorization(std::function<void(bool granted)> answer);
// Waits up to `timeoutMs` for the same answer.
bool isAuthorized(int timeoutMs = 2000);

struct Notification {
    std::string title;
    std::string body;
    bool sound = false;     // the desktop's message sound
    bool critical = false;  // urgent: stays until dismissed
    std::string actionTitle = "Open";
};

// Posts a notification; returns the server's id, 0 when it could not be
// posted. `onClick` runs on the main thread when the user clicks the
// notification or its action.
uint32_t post(const Notification& notification, std::function<void()> onClick = {});
// Withdraws a posted notification.
void close(uint32_t id);

}  // namespace kit::UserNotifications
