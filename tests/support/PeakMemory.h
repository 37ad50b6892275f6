#pragma once
// How far the process's resident high-water mark rose while `fn` ran: a
// decoder that fills a canvas its file claimed shows here, whatever it
// allocated with.
//
// What the process holds counts memory files too (a picture's pixels come
// in one, written by the decoder): the system holds a memory file's pages
// from the moment they are written, mapped or not, and a page mapped but
// never read is in no resident size.
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

namespace memory {

inline long long statusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stoll(line.substr(std::strlen(key))) * 1024;
    return 0;
}

// The pages of a shared mapping that its file holds, read or not.
inline long long pagesHeldUnder(uintptr_t start, uintptr_t end) {
    const long page = ::sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> in(size_t((end - start + page - 1) / page));
    if (::mincore(reinterpret_cast<void*>(start), end - start, in.data()) != 0) return 0;
    long long held = 0;
    for (unsigned char c : in) held += c & 1;
    return held * page;
}

// A memory file this process holds: the bytes its file holds, and how many
// of them are in this process's resident size.
struct FileHeld {
    long long bytes = 0;
    long long resident = 0;
};

// Every memory file (a memfd, a shared-memory object) this process holds
// mapped or open, by (device, inode).
inline std::map<std::pair<unsigned long, unsigned long>, FileHeld> filesHeld() {
    std::map<std::pair<unsigned long, unsigned long>, FileHeld> files;
    const auto isMemoryFile = [](const std::string& path) {
        return path.rfind("/memfd:", 0) == 0 || path.rfind("/dev/shm/", 0) == 0 ||
               path.rfind("/SYSV", 0) == 0;
    };
    std::ifstream smaps("/proc/self/smaps");
    FileHeld* mapping = nullptr;  // the memory file of the mapping whose lines follow
    for (std::string line; std::getline(smaps, line);) {
        unsigned long start = 0, end = 0, major = 0, minor = 0, inode = 0;
        int pathAt = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx %*s %*s %lx:%lx %lu %n", &start, &end, &major, &minor, &inode,
                        &pathAt) >= 5 &&
            line.find('-') < line.find(' ')) {
            mapping = nullptr;
            if (pathAt <= 0 || !isMemoryFile(line.substr(size_t(pathAt)))) continue;
            mapping = &files[{::makedev(major, minor), inode}];
            mapping->bytes = std::max(mapping->bytes, pagesHeldUnder(start, end));
        } else if (mapping && line.rfind("Rss:", 0) == 0) {
            mapping->resident += std::stoll(line.substr(4)) * 1024;
        }
    }
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        struct stat st {};
        if (!isMemoryFile(std::filesystem::read_symlink(fd.path(), ec).string()) ||
            ::stat(fd.path().c_str(), &st) != 0)
            continue;
        auto& file = files[{st.st_dev, st.st_ino}];
        file.bytes = std::max(file.bytes, static_cast<long long>(st.st_blocks) * 512);
    }
    return files;
}

// Resident pages other than memory files', and the memory files whole.
inline long long heldNow() {
    long long held = statusBytes("VmRSS:") - statusBytes("RssShmem:");
    for (const auto& [id, file] : filesHeld()) held += file.bytes;
    return held;
}

}  // namespace memory

inline long long peakGrowthOf(const std::function<void()>& fn) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark starts anew
    const long long before = memory::statusBytes("VmRSS:");
    fn();
    return memory::statusBytes("VmHWM:") - before;
}

// What `fn` added to what the process holds, memory files included: at its
// peak, and once it returned. The peak is the resident high-water mark's
// rise, plus each memory file that came while `fn` ran and is held still,
// whole (the new picture, written before this process read any of it). Its
// pages this process has read count once: as far as the resident size rose
// with them, they are taken out of the high-water mark's rise. So a picture
// read beside nothing counts once, and one read as it replaces another
// counts as the other did.
struct HeldGrowth {
    long long peak = 0;
    long long after = 0;
};

inline HeldGrowth heldGrowthOf(const std::function<void()>& fn) {
    const auto filesBefore = memory::filesHeld();
    const long long heldBefore = memory::heldNow();
    std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark starts anew
    const long long residentBefore = memory::statusBytes("VmRSS:");
    fn();
    const long long rose = memory::statusBytes("VmRSS:") - residentBefore;
    HeldGrowth g;
    g.peak = memory::statusBytes("VmHWM:") - residentBefore;
    long long newResident = 0;
    for (const auto& [id, file] : memory::filesHeld())
        if (!filesBefore.count(id)) g.peak += file.bytes, newResident += file.resident;
    g.peak -= std::clamp(rose, 0LL, newResident);
    g.after = memory::heldNow() - heldBefore;
    return g;
}

}  // namespace testsupport
