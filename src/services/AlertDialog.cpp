#include "services/AlertDialog.h"

#include "kit/ui/Alert.h"

namespace services {

AlertAnswer runAlertDialog(const AlertRequest& request) {
    kit::Alert dialog;
    dialog.messageText = request.title;
    dialog.informativeText = request.message;
    dialog.noKeyEquivalents = request.noKeyEquivalents;
    dialog.cancelOnEscape = request.cancelOnEscape;
    for (const std::string& title : request.buttons) dialog.addButton(title);
    if (request.textField) dialog.setAccessoryTextField(*request.textField);
    AlertAnswer answer;
    answer.button = dialog.runModal();
    answer.text = dialog.textFieldValue();
    return answer;
}

}  // namespace services
