#pragma once
// Environment variables a test changes, and the program's own threads that
// read the environment. setenv() is no safer beside a thread that reads the
// environment than any other unguarded write: a test program lets its
// threads go between tests (settleBetweenTests), and a variable is set, and
// set back, only once they have gone.
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// `settle` lets threads of the program go and returns once none runs (the
// shared thumbnail worker, say): it runs after every test, and before every
// change a ScopedEnv makes. Returns true, for a static registration.
bool settleBetweenTests(std::function<void()> settle);
// Runs every registered settle.
void settleProgramThreads();

// Sets (or, for a null value, removes) a variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name.c_str())) old_ = old;
        set(value);
    }
    ScopedEnv(const std::string& name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const char* value) {
        settleProgramThreads();
        if (value)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
