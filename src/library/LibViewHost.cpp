#include "library/LibViewHost.h"

namespace library {

namespace {
LibViewHost defaultHost;
LibViewHost* installedHost = &defaultHost;
}  // namespace

LibViewHost& viewHost() {
    return *installedHost;
}
void setViewHost(LibViewHost* host) {
    installedHost = host ? host : &defaultHost;
}

}  // namespace library
