#include "core/AppHost.h"

namespace core {
namespace {
ShellHost defaultShell;
LibraryHost defaultLibrary;
ShellHost* installedShell = &defaultShell;
LibraryHost* installedLibrary = &defaultLibrary;
}  // namespace

ShellHost& shell() {
    return *installedShell;
}
LibraryHost& library() {
    return *installedLibrary;
}
void setShell(ShellHost* host) {
    installedShell = host ? host : &defaultShell;
}
void setLibrary(LibraryHost* host) {
    installedLibrary = host ? host : &defaultLibrary;
}

}  // namespace core
