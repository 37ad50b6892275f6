#pragma once
// The core as the annotation objects see it: one adapter that forwards the
// objects' calls to the AppLogic it was installed for.
namespace core {

class AppLogic;

void installObjectsBridge(AppLogic& logic);
void uninstallObjectsBridge(AppLogic& logic);
// Hands the objects the screenshot after a load.
void publishToObjects(AppLogic& logic);

}  // namespace core
