#pragma once
// A shared library loaded while the program runs (dlopen) rather than linked:
// for a library most launches never call, whose loading would cost every
// start-up its time and memory. Never unloaded.
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <type_traits>

namespace kit {

class DynamicLibrary {
public:
    // `name` as the runtime package installs it, e.g. "libcurl.so.4". A load
    // that fails says why on stderr, once: each library is one object, made
    // once, and a feature that then does nothing has its reason in the log.
    explicit DynamicLibrary(const char* name) : handle_(open(name, error_)) {}

    bool loaded() const { return handle_ != nullptr; }

    // Points fn at the function `symbol` (of the library or one it loaded);
    // false, and fn null, when there is none.
    template <class Fn>
    bool find(Fn& fn, const char* symbol) const {
        fn = handle_ ? reinterpret_cast<Fn>(dlsym(handle_, symbol)) : nullptr;
        if (handle_ && !fn) noteError();
        return fn != nullptr;
    }

    // Why the library or the first missing function could not be had, in the
    // loader's words (e.g. "libcurl.so.4: cannot open shared object file: No
    // such file or directory"); empty while nothing failed. The loader says
    // it once, so it is kept for every later attempt to report.
    const std::string& error() const { return error_; }

private:
    static void* open(const char* name, std::string& error) {
        // dlopen of an empty name hands back the program itself, whose
        // symbols would then stand in for the library's.
        if (!name || !*name) {
            error = "a library loaded on first use has no name";
            std::fprintf(stderr, "kit: %s\n", error.c_str());
            return nullptr;
        }
        void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            error = why ? why : "no reason given";
            std::fprintf(stderr, "kit: could not load %s: %s\n", name, error.c_str());
        }
        return handle;
    }

    void noteError() const {
        const char* why = dlerror();
        if (error_.empty() && why) error_ = why;
    }

    // error_ comes first: the constructor fills it while opening handle_.
    mutable std::string error_;
    void* handle_;
};

}  // namespace kit
