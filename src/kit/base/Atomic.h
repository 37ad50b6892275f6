#pragma once
// A value guarded by its own mutex: whole reads and writes, and read-modify-
// write through `mutate`, so threads never see it half written. Numbers need
// no mutex: they are held in a lock-free std::atomic (the viewport's zoom and
// offsets are read for every object on every pointer move).
#include <atomic>
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

template <class T>
requires std::is_arithmetic_v<T>
class Atomic<T> {
public:
    Atomic() = default;
    explicit Atomic(T value) : value_(value) {}
    Atomic(const Atomic&) = delete;
    Atomic& operator=(const Atomic&) = delete;

    T get() const { return value_.load(); }
    void set(T value) { value_.store(value); }
    T exchange(T value) { return value_.exchange(value); }
    // Runs fn(T&) on a copy and stores the result when nobody wrote in
    // between, else runs it again: fn must only compute from its argument.
    template <class F>
    auto mutate(F&& fn) -> std::invoke_result_t<F, T&> {
        T seen = value_.load();
        for (;;) {
            T next = seen;
            if constexpr (std::is_void_v<std::invoke_result_t<F, T&>>) {
                fn(next);
                if (value_.compare_exchange_weak(seen, next)) return;
            } else {
                auto result = fn(next);
                if (value_.compare_exchange_weak(seen, next)) return result;
            }
        }
    }

private:
    std::atomic<T> value_{};
};

}  // namespace kit
