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
    bool sound = false;    // the desktop's message sound
    bool warning = false;  // the desktop's warning sound instead; it expires like any other
    std::string actionTitle = "Open";
};

// Posts a notification without waiting for the server: `posted` runs later
// on the main thread with the server's id, 0 when it could not be posted.
// `onClick` runs on the main thread when the user clicks the notification
// or its action.
void post(const Notification& notification, std::function<void()> onClick = {},
          std::function<void(uint32_t id)> posted = {});
// Withdraws a posted notification.
void close(uint32_t id);

}  // namespace kit::UserNotifications
