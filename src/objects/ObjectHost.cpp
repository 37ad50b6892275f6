#include "objects/ObjectHost.h"

namespace objects {

ObjectHost& ObjectHost::none() {
    static ObjectHost host;
    return host;
}

}  // namespace objects
