#pragma once
// A value guarded by its own mutex: whole reads and writes, and read-modify-
// write through `mutate`, so threads never see it half written.
#include <mutex>
#include <type_traits>
#include <utility>

namespace kit {

template <class T>
class Atomic {
public:
    Atomic() = default;
    explicit Atomic(T value) : value_(std::move(value)) {}
    Atomic(const Atomic&) = delete;
    Atomic& operator=(const Atomic&) = delete;

    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }
    T exchange(T value) {
        std::lock_guard lock(mutex_);
        return std::exchange(value_, std::move(value));
    }
    // Runs fn(T&) under the lock and returns its result. fn must not touch
    // this Atomic again (the lock is not recursive).
    template <class F>
    auto mutate(F&& fn) -> std::invoke_result_t<F, T&> {
        std::lock_guard lock(mutex_);
        return std::forward<F>(fn)(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace kit
