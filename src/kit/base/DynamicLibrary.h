#pragma once
// A shared library loaded while the program runs (dlopen) rather than linked:
// for a library most launches never call, whose loading would cost every
// start-up its time and memory. Never unloaded.
#include <dlfcn.h>

#include <type_traits>

namespace kit {

class DynamicLibrary {
public:
    // `name` as the runtime package installs it, e.g. "libcurl.so.4".
    explicit DynamicLibrary(const char* name) : handle_(dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}

    bool loaded() const { return handle_ != nullptr; }

    // Points fn at the function `symbol` (of the library or one it loaded);
    // false, and fn null, when there is none.
    template <class Fn>
    bool find(Fn& fn, const char* symbol) const {
        fn = handle_ ? reinterpret_cast<Fn>(dlsym(handle_, symbol)) : nullptr;
        return fn != nullptr;
    }

private:
    void* handle_;
};

}  // namespace kit
