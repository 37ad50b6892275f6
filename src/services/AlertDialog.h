#pragma once
// The desktop's modal dialog for an alert: runs it and returns the answer.
#include "services/Alerts.h"

namespace services {

AlertAnswer runAlertDialog(const AlertRequest& request);

}  // namespace services
