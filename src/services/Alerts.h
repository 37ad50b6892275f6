#pragma once
// Modal questions and messages. The four functions block on the main thread
// (they run a modal loop); the "OnMain" wrappers may be called from any
// thread and show their alert on a later turn of the main loop. Called on
// another thread, the first three behave as their wrappers and promptText
// waits for the main thread's answer.
//
// Every alert first makes a tray-only application a regular one (taskbar
// presence) and activates it; the policy is not switched back.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace services {

// What one alert shows and what the user answered; the presenter shows it.
struct AlertRequest {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;  // the first is the default button
    // Neither Return nor Escape answers (every button needs a click).
    bool noKeyEquivalents = false;
    // An editable text field (200 × 24) holding this text.
    std::optional<std::string> textField;
    // With noKeyEquivalents, Escape still presses the button titled "Cancel".
    bool cancelOnEscape = false;
};

struct AlertAnswer {
    int button = -1;   // index into AlertRequest::buttons; -1 for any other response
    std::string text;  // the text field's content
};

using AlertPresenter = std::function<AlertAnswer(const AlertRequest&)>;

// The presenter that runs alerts (the desktop's modal dialog by default);
// tests install a double. An empty function restores the default.
void setAlertPresenter(AlertPresenter presenter);

void alert(const std::string& title, const std::string& message, std::function<void()> then = {});
// `then` gets 1 for the first button, 2 for the second; any other response calls nothing.
void confirm(const std::string& title, const std::string& message, const std::string& yes,
             const std::string& no, std::function<void(int)> then);
// `then` gets true for "Ok", false for "Cancel"; any other response calls nothing.
void confirmOkCancel(const std::string& title, const std::string& message, std::function<void(bool)> then);
// A question that a link raises on its own: true only when "Allow" was
// clicked. Return answers nothing (a stray key must not allow), Escape is
// "Cancel". Main thread only.
bool askConsent(const std::string& title, const std::string& message);
// The field's text when "OK" was pressed; "" otherwise.
std::string promptText(const std::string& title, const std::string& message, const std::string& value);

void alertOnMain(const std::string& title, const std::string& message, std::function<void()> then = {});
void confirmOnMain(const std::string& title, const std::string& message, const std::string& yes,
                   const std::string& no, std::function<void(int)> then);
void confirmOkCancelOnMain(const std::string& title, const std::string& message,
                           std::function<void(bool)> then);

}  // namespace services
