#pragma once
// A modal alert: a title, a text, buttons (the first is the default one) and,
// for prompts, a text field. runModal() returns the index of the button.
#include <optional>
#include <string>
#include <vector>

namespace kit {

class Alert {
public:
    enum class Style { Informational, Warning, Critical };

    std::string messageText;
    std::string informativeText;
    Style style = Style::Warning;
    // Without key equivalents Return and Escape press no button, so a
    // stray key cannot answer a question.
    bool noKeyEquivalents = false;
    // Escape presses the button titled "Cancel" even without key
    // equivalents: saying no by accident costs nothing.
    bool cancelOnEscape = false;
    // The style's icon beside the text; off for an alert whose text says
    // all there is.
    bool showsIcon = true;

    void addButton(std::string title) { buttons_.push_back(std::move(title)); }
    const std::vector<std::string>& buttons() const { return buttons_; }
    // Adds an editable text field below the text, holding `initial`.
    void setAccessoryTextField(std::string initial, std::string placeholder = {});
    bool hasTextField() const { return textField_.has_value(); }
    // The field's text after runModal().
    std::string textFieldValue() const { return textField_.value_or(std::string()); }

    // Shows the alert and waits. Returns the index of the pressed button
    // (0 = the first added); -1 when it was closed another way. An alert
    // without buttons gets an "OK" button.
    int runModal();

private:
    std::vector<std::string> buttons_;
    std::optional<std::string> textField_;
    std::string placeholder_;
};

}  // namespace kit
