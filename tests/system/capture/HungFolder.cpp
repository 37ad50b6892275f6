#include "system/capture/HungFolder.h"

#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_ending = 0;

constexpr uint64_t kRoot = FUSE_ROOT_ID, kPicture = 2;
constexpr const char* kPictureName = "picture.png";

fuse_attr attrOf(uint64_t node) {
    fuse_attr a{};
    a.ino = node;
    a.nlink = node == kRoot ? 2 : 1;
    a.mode = node == kRoot ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    a.size = node == kRoot ? 0 : 4096;
    a.uid = getuid();
    a.gid = getgid();
    a.blksize = 4096;
    return a;
}

// One answer to the request `unique`: an error, or the body given.
void answer(int fd, uint64_t unique, int error, const void* body = nullptr, size_t size = 0) {
    std::vector<char> out(sizeof(fuse_out_header) + size);
    fuse_out_header head{uint32_t(out.size()), -error, unique};
    std::memcpy(out.data(), &head, sizeof head);
    if (size) std::memcpy(out.data() + sizeof head, body, size);
    [[maybe_unused]] const ssize_t written = ::write(fd, out.data(), out.size());
}

// Answers what the kernel asks, except an open of the picture, which is
// never answered: the program opening it waits until the folder ends.
void serve(int fd) {
    std::vector<char> in(FUSE_MIN_READ_BUFFER + (1 << 20));
    while (!g_ending) {
        const ssize_t n = ::read(fd, in.data(), in.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < ssize_t(sizeof(fuse_in_header))) return;
        fuse_in_header head;
        std::memcpy(&head, in.data(), sizeof head);
        const char* body = in.data() + sizeof head;
        switch (head.opcode) {
            case FUSE_INIT: {
                fuse_init_in asked;
                std::memcpy(&asked, body, sizeof asked);
                fuse_init_out init{};
                init.major = FUSE_KERNEL_VERSION;
                init.minor = std::min<uint32_t>(asked.minor, FUSE_KERNEL_MINOR_VERSION);
                init.max_readahead = asked.max_readahead;
                init.max_write = 4096;
                init.time_gran = 1;
                answer(fd, head.unique, 0, &init, sizeof init);
                break;
            }
            case FUSE_LOOKUP: {
                if (head.nodeid != kRoot || std::strcmp(body, kPictureName) != 0) {
                    answer(fd, head.unique, ENOENT);
                    break;
                }
                fuse_entry_out entry{};
                entry.nodeid = kPicture;
                entry.generation = 1;
                entry.attr = attrOf(kPicture);
                answer(fd, head.unique, 0, &entry, sizeof entry);
                break;
            }
            case FUSE_GETATTR: {
                fuse_attr_out attr{};
                attr.attr = attrOf(head.nodeid);
                answer(fd, head.unique, 0, &attr, sizeof attr);
                break;
            }
            case FUSE_OPEN:
                if (head.nodeid == kPicture) break;  // held: the open hangs
                answer(fd, head.unique, EACCES);
                break;
            case FUSE_FORGET:
            case FUSE_BATCH_FORGET:
            case FUSE_INTERRUPT:
                break;  // no answer is awaited
            case FUSE_DESTROY:
                return;
            default:
                answer(fd, head.unique, ENOSYS);
        }
    }
}

}  // namespace

int serveHungFolder(const char* mountPoint) {
    struct sigaction end {};
    end.sa_handler = [](int) { g_ending = 1; };
    sigaction(SIGTERM, &end, nullptr);  // no SA_RESTART: the read of the next request ends
    sigaction(SIGINT, &end, nullptr);
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "kadrix-testclient: /dev/fuse: %s\n", std::strerror(errno));
        return 77;
    }
    const std::string options = "fd=" + std::to_string(fd) +
                                ",rootmode=40000,user_id=" + std::to_string(getuid()) +
                                ",group_id=" + std::to_string(getgid());
    if (::mount("kadrix-hung", mountPoint, "fuse", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        std::fprintf(stderr, "kadrix-testclient: mounting %s: %s\n", mountPoint, std::strerror(errno));
        ::close(fd);
        return 77;
    }
    std::printf("mounted\n");
    std::fflush(stdout);
    serve(fd);
    // Detached first: the opens still waiting fail once the device closes.
    ::umount2(mountPoint, MNT_DETACH);
    ::close(fd);
    return 0;
}
