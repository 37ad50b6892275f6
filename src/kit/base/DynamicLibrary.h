#pragma once
// A shared library loaded while the program runs (dlopen) rather than linked:
// for a library most launches never call, whose loading would cost every
// start-up its time and memory. Never unloaded.
#include <dlfcn.h>

#include <cstdio>
#include <type_traits>

namespace kit {

class DynamicLibrary {
public:
    // `name` as the runtime package installs it, e.g. "libcurl.so.4". A load
    // that fails says why on stderr, once: each library is one object, made
    // once, and a feature that then does nothing has its reason in the log.
    explicit DynamicLibrary(const char* name) : handle_(open(name)) {}

    bool loaded() const { return handle_ != nullptr; }

    // Points fn at the function `symbol` (of the library or one it loaded);
    // false, and fn null, when there is none.
    template <class Fn>
    bool find(Fn& fn, const char* symbol) const {
        fn = handle_ ? reinterpret_cast<Fn>(dlsym(handle_, symbol)) : nullptr;
        return fn != nullptr;
    }

private:
    static void* open(const char* name) {
        // dlopen of an empty name hands back the program itself, whose
        // symbols would then stand in for the library's.
        if (!name || !*name) {
            std::fprintf(stderr, "kit: a library loaded on first use has no name\n");
            return nullptr;
        }
        void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            std::fprintf(stderr, "kit: could not load %s: %s\n", name, why ? why : "no reason given");
        }
        return handle;
    }

    void* handle_;
};

}  // namespace kit
