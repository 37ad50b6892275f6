#include "services/AlertDialog.h"

#include "services/Console.h"

AlertAnswer runAlertDialog(const AlertSpec& spec) {
    // No modal dialog to show it in: the alert is written out so it is not
    // lost, and counts as dismissed without an answer.
    consoleLine("ALERT " + spec.title + ": " + spec.message);
    return {};
}
