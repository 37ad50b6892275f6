#pragma once
// Open file descriptors: one holder that closes what it holds, one loop that
// writes every byte (again when a signal cuts a write short), and memory
// files filled from bytes at hand. Plain system calls, any thread; the
// decoder program uses them too, so nothing here leans on the toolkit.
#include <cstddef>

namespace kit {

// Owns one descriptor (-1 for none) and closes it when done.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes what is held and holds `fd` instead.
    void reset(int fd = -1);
    // Gives the descriptor up to the caller, unclosed.
    int release();

private:
    int fd_ = -1;
};

// Writes all `n` bytes; false with errno set when the descriptor takes no more.
bool writeAll(int fd, const void* bytes, size_t n);

// A new memory file (close-on-exec, open to seals) named `name`, holding the
// `n` bytes; none with errno set when it cannot be made or filled.
Descriptor memoryFileWith(const char* name, const void* bytes, size_t n);

}  // namespace kit
