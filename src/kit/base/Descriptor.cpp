#include "kit/base/Descriptor.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kit {

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

void Descriptor::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

int Descriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool writeAll(int fd, const void* bytes, size_t n) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return false;
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

Descriptor memoryFileWith(const char* name, const void* bytes, size_t n) {
    Descriptor file(::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!file.valid() || !writeAll(file.get(), bytes, n)) return {};
    return file;
}

}  // namespace kit
