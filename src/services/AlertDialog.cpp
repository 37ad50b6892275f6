#include "services/AlertDialog.h"

#include "kit/Alert.h"

AlertAnswer runAlertDialog(const AlertSpec& spec) {
    kit::Alert dialog;
    dialog.messageText = spec.title;
    dialog.informativeText = spec.message;
    dialog.noKeyEquivalents = spec.noKeyEquivalents;
    for (const std::string& title : spec.buttons) dialog.addButton(title);
    if (spec.textField) dialog.setAccessoryTextField(*spec.textField);
    AlertAnswer answer;
    answer.button = dialog.runModal();
    answer.text = dialog.textFieldValue();
    return answer;
}
