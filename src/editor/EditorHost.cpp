#include "editor/EditorHost.h"

namespace editor {
namespace {
CoreHost defaultCore;
BackdropHost defaultBackdrop;
ShellHost defaultShell;
CoreHost* installedCore = &defaultCore;
BackdropHost* installedBackdrop = &defaultBackdrop;
ShellHost* installedShell = &defaultShell;
objects::ObjectsCore* installedObjectsCore = nullptr;
}  // namespace

CoreHost& core() {
    return *installedCore;
}
BackdropHost& backdrop() {
    return *installedBackdrop;
}
ShellHost& shell() {
    return *installedShell;
}

void setCore(CoreHost* host) {
    installedCore = host ? host : &defaultCore;
}
objects::ObjectsCore* objectsCore() {
    return installedObjectsCore;
}
void setObjectsCore(objects::ObjectsCore* core) {
    installedObjectsCore = core;
}
void setBackdrop(BackdropHost* host) {
    installedBackdrop = host ? host : &defaultBackdrop;
}
void setShell(ShellHost* host) {
    installedShell = host ? host : &defaultShell;
}

}  // namespace editor
