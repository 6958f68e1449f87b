#pragma once
// The file through which the sensor pad sets the simulator's readings: its place, its layout, and
// the one reader and writer of it. Shared by the simulator library and the pad.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kestrane::simulator {

constexpr uint16_t kResting = 32768;

struct Readings {
    uint16_t first = kResting;
    uint16_t second = kResting;
    bool operator==(const Readings&) const = default;
};

// The file's 12 bytes, native byte order (both ends run on one machine). Both readings live in one
// 32-bit word, so a reader never sees half of a change.
struct Layout {
    static constexpr uint32_t kMagic = 0x4B534E31;  // "1NSK" in memory
    static constexpr uint32_t kVersion = 1;
    uint32_t magic;
    uint32_t version;
    uint32_t readings;  // first axis in the low half, second in the high half
};

// Per user: the user's runtime folder where the session has one, else a per-user name in /tmp.
// False when the path does not fit.
inline bool SharedFilePath(char* out, std::size_t size)
{
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    const int n = dir && dir[0] == '/' ? std::snprintf(out, size, "%s/kestrane-sensor", dir)
                                       : std::snprintf(out, size, "/tmp/kestrane-sensor-%u",
                                                       static_cast<unsigned>(geteuid()));
    return n > 0 && static_cast<std::size_t>(n) < size;
}

// A mapping of the file. Only a regular file of the user's own is used, never one behind a symbolic
// link: in /tmp anyone could plant one.
class SharedFile {
public:
    SharedFile() = default;
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;
    ~SharedFile() { Close(); }

    bool IsOpen() const { return map_ != nullptr; }

    // The file named by `path` as it stood when it was mapped (a new file under the name is another).
    bool Maps(const struct stat& st) const { return map_ && st.st_dev == dev_ && st.st_ino == ino_; }

    // Maps an existing file for reading. False (and closed) when it is missing or not usable.
    bool OpenForReading(const char* path) { return Open(path, O_RDONLY, PROT_READ); }

    // Maps the file for writing, creating it (mode 0600) or starting a file without the layout over
    // at rest; readings already there are kept. False, with errno set, when that is impossible.
    bool OpenForWriting(const char* path)
    {
        if (!Open(path, O_RDWR | O_CREAT, PROT_READ | PROT_WRITE))
            return false;
        if (std::atomic_ref(map_->magic).load(std::memory_order_acquire) != Layout::kMagic ||
            map_->version != Layout::kVersion) {
            Store(Readings{});
            map_->version = Layout::kVersion;
            std::atomic_ref(map_->magic).store(Layout::kMagic, std::memory_order_release);
        }
        return true;
    }

    void Close()
    {
        if (map_)
            munmap(map_, sizeof(Layout));
        map_ = nullptr;
    }

    // The readings, or the resting pair when the file does not hold the layout (yet).
    Readings Load() const
    {
        if (!map_ || std::atomic_ref(map_->magic).load(std::memory_order_acquire) != Layout::kMagic ||
            map_->version != Layout::kVersion)
            return {};
        const uint32_t word = std::atomic_ref(map_->readings).load(std::memory_order_relaxed);
        return {static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16)};
    }

    void Store(Readings r)
    {
        std::atomic_ref(map_->readings).store(r.first | static_cast<uint32_t>(r.second) << 16,
                                              std::memory_order_relaxed);
    }

private:
    bool Open(const char* path, int flags, int protection)
    {
        Close();
        const int fd = open(path, flags | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        struct stat st {};
        void* map = MAP_FAILED;
        if (fstat(fd, &st) != 0) {
        } else if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
            errno = EACCES;
        } else if (st.st_size < static_cast<off_t>(sizeof(Layout)) && !(protection & PROT_WRITE)) {
            errno = EINVAL;  // mapping past the end would fault on access
        } else if (st.st_size >= static_cast<off_t>(sizeof(Layout)) || ftruncate(fd, sizeof(Layout)) == 0) {
            map = mmap(nullptr, sizeof(Layout), protection, MAP_SHARED, fd, 0);
        }
        const int saved = errno;
        close(fd);
        errno = saved;
        if (map == MAP_FAILED)
            return false;
        map_ = static_cast<Layout*>(map);
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        return true;
    }

    Layout* map_ = nullptr;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

}  // namespace kestrane::simulator
