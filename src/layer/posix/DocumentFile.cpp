#include "layer/DocumentFile.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <new>
#include <optional>
#include <random>
#include <vector>

#include "layer/Exceptions.hpp"

namespace kestrane::os {

namespace {

// How many symbolic links a path may pass through, as the kernel allows.
constexpr int MaxLinkHops = 40;

[[noreturn]] void ThrowOpen(const std::string& path) { throw EFOpenError(ProgramText(Msg::FOpenError, path)); }
[[noreturn]] void ThrowCreate(const std::string& path) { throw EFCreateError(ProgramText(Msg::FCreateError, path)); }
[[noreturn]] void ThrowWrite() { throw EWriteError(ProgramText(Msg::WriteError)); }

// Takes an open-file-description lock over the whole file. False when someone else holds a lock
// that conflicts; a filesystem without locks counts as unlocked, since nobody can hold one there.
bool LockWholeFile(int fd, short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    int r;
    do
        r = fcntl(fd, F_OFD_SETLK, &lock);
    while (r != 0 && errno == EINTR);
    return r == 0 || (errno != EAGAIN && errno != EACCES);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Ignores SIGXFSZ while it lives, so going past the file-size limit fails the call with EFBIG
// instead of ending the program.
class FileSizeSignalIgnored {
public:
    FileSizeSignalIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &previous_);
    }
    ~FileSizeSignalIgnored() { sigaction(SIGXFSZ, &previous_, nullptr); }
    FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
    FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

private:
    struct sigaction previous_ {};
};

std::string Folder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Name(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path names once every symbolic link in its last part is followed; it need not exist.
// Throws EFCreateError (with the path as given) for a loop or a path that cannot be looked at.
std::string FinalTarget(const std::string& given)
{
    std::string path = given;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return path;
            ThrowCreate(given);
        }
        if (!S_ISLNK(st.st_mode))
            return path;
        if (hops == MaxLinkHops)
            ThrowCreate(given);
        std::string link(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 256, '\0');
        for (;;) {
            const ssize_t r = readlink(path.c_str(), link.data(), link.size());
            if (r < 0)
                ThrowCreate(given);
            if (static_cast<std::size_t>(r) < link.size()) {
                link.resize(static_cast<std::size_t>(r));
                break;
            }
            link.resize(link.size() * 2);
        }
        path = link.starts_with('/') ? link : Folder(path) + "/" + link;
    }
}

// Root passes every permission check of the kernel, yet a file nobody may write (no write bit at
// all, as a read-only attribute would be) must stay read-only for it too. For anyone else the kernel's
// own check, access control lists included, already ran when the file was opened.
bool WritableByMode(const struct stat& st)
{
    return geteuid() != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Creates a new, unique, hidden file beside `target`, named after it. -1 with errno when it cannot.
int CreateTemporary(const std::string& target, mode_t mode, std::string& tempPath)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::mt19937_64 random{std::random_device{}()};
    // Leave room in the name's 255 bytes for the dot and the suffix.
    const std::string prefix = Folder(target) + "/." + Name(target).substr(0, 240) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix;
        for (int i = 0; i < 8; ++i)
            tempPath += letters[random() % (sizeof letters - 1)];
        const int fd = open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// One write of all bytes at `offset`, retried only when a signal interrupted it.
bool WriteAllAt(int fd, std::string_view bytes, off_t offset)
{
    ssize_t r;
    do
        r = pwrite(fd, bytes.data(), bytes.size(), offset);
    while (r < 0 && errno == EINTR);
    return r >= 0 && static_cast<std::size_t>(r) == bytes.size();
}

bool SyncFd(int fd)
{
    int r;
    do
        r = fsync(fd);
    while (r != 0 && errno == EINTR);
    return r == 0;
}

// Makes a rename in `folder` durable. Best effort: the new file is complete and in place already,
// and should the rename not survive a crash the old one, equally complete, stands instead.
void SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    SyncFd(fd);
    close(fd);
}

// Whether a file may grow to `size` bytes under the process's file-size limit.
bool WithinSizeLimit(off_t size)
{
    struct rlimit limit;
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           static_cast<rlim_t>(size) <= limit.rlim_cur;
}

}  // namespace

DocumentReader::DocumentReader(const std::string& path) : path_(path)
{
    // Non-blocking while opening, so a FIFO without a writer cannot hang the program.
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0)
        ThrowOpen(path);
    struct stat st;
    const bool ok = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd_, F_SETFL, 0) == 0 &&
                    LockWholeFile(fd_, F_RDLCK);
    const off_t at = ok ? lseek(fd_, 0, SEEK_CUR) : -1;
    if (at < 0) {
        CloseFd(fd_);
        ThrowOpen(path);
    }
    size_ = st.st_size > at ? static_cast<std::size_t>(st.st_size - at) : 0;
}

DocumentReader::~DocumentReader() { CloseFd(fd_); }

std::size_t DocumentReader::Size() const { return size_; }

std::string DocumentReader::ReadAll()
{
    std::string bytes;
    if (size_ > bytes.max_size())
        throw std::bad_alloc();
    bytes.resize(size_);
    ssize_t r;
    do
        r = read(fd_, bytes.data(), bytes.size());
    while (r < 0 && errno == EINTR);
    if (r < 0)
        ThrowOpen(path_);
    bytes.resize(static_cast<std::size_t>(r));
    return bytes;
}

struct DocumentWriter::State {
    std::string target;  // the final target of every symbolic link
    std::string temp;    // the temporary file while it exists; empty when writing in place
    int targetFd = -1;   // the existing target, open and locked
    int tempFd = -1;
    bool inPlace = false;
    off_t written = 0;
    std::optional<struct stat> keep;  // the replaced target's owner and mode

    ~State()
    {
        CloseFd(tempFd);
        if (!temp.empty())
            unlink(temp.c_str());
        CloseFd(targetFd);
    }
};

DocumentWriter::DocumentWriter(const std::string& path) : state_(std::make_unique<State>())
{
    State& s = *state_;
    if (path.empty() || path.ends_with('/'))
        ThrowCreate(path);
    s.target = FinalTarget(path);

    struct stat st;
    const bool exists = stat(s.target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        ThrowCreate(path);
    if (exists) {
        // Only a regular file is opened: opening a device or a FIFO may have effects of its own.
        if (!S_ISREG(st.st_mode))
            ThrowCreate(path);
        s.targetFd = open(s.target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (s.targetFd < 0 || fstat(s.targetFd, &st) != 0 || !S_ISREG(st.st_mode) || !WritableByMode(st) ||
            !LockWholeFile(s.targetFd, F_WRLCK))
            ThrowCreate(path);
    }

    // Other names of the file must see the text, so it is rewritten where it is.
    s.inPlace = exists && st.st_nlink > 1;
    if (s.inPlace)
        return;
    s.tempFd = CreateTemporary(s.target, exists ? 0600 : 0666, s.temp);
    if (s.tempFd < 0) {
        s.temp.clear();
        // A folder that takes no new file still lets a writable file in it be rewritten in place.
        s.inPlace = exists && (errno == EACCES || errno == EPERM);
        if (s.inPlace)
            return;
        ThrowCreate(path);
    }
    if (exists)
        s.keep = st;
}

DocumentWriter::~DocumentWriter() = default;

void DocumentWriter::Write(std::string_view bytes)
{
    State& s = *state_;
    if (bytes.empty())
        return;
    const FileSizeSignalIgnored guard;
    if (!s.inPlace) {
        if (!WriteAllAt(s.tempFd, bytes, s.written))
            ThrowWrite();
        s.written += static_cast<off_t>(bytes.size());
        return;
    }
    // Check the size limit and reserve the space first, so neither a full disk nor the limit is found
    // with the old text half overwritten.
    const off_t end = s.written + static_cast<off_t>(bytes.size());
    if (!WithinSizeLimit(end))
        ThrowWrite();
    int r;
    do
        r = fallocate(s.targetFd, FALLOC_FL_KEEP_SIZE, s.written, static_cast<off_t>(bytes.size()));
    while (r != 0 && errno == EINTR);
    if (r != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        ThrowWrite();
    if (!WriteAllAt(s.targetFd, bytes, s.written))
        ThrowWrite();
    s.written = end;
    if (ftruncate(s.targetFd, s.written) != 0)
        ThrowWrite();
}

void DocumentWriter::Commit()
{
    State& s = *state_;
    if (s.inPlace) {
        if (s.targetFd < 0)
            return;
        if (ftruncate(s.targetFd, s.written) != 0 || !SyncFd(s.targetFd))
            ThrowWrite();
        CloseFd(s.targetFd);
        return;
    }
    if (s.temp.empty())
        return;
    // After the writes, which clear the set-user-ID bits, and owner first, since changing it does too.
    if (s.keep && ((fchown(s.tempFd, s.keep->st_uid, s.keep->st_gid) != 0 && errno != EPERM) ||
                   fchmod(s.tempFd, s.keep->st_mode & 07777) != 0))
        ThrowWrite();
    const int fd = s.tempFd;
    s.tempFd = -1;
    const bool synced = SyncFd(fd);
    if (close(fd) != 0 || !synced || rename(s.temp.c_str(), s.target.c_str()) != 0)
        ThrowWrite();
    s.temp.clear();
    CloseFd(s.targetFd);
    SyncFolder(Folder(s.target));
}

}  // namespace kestrane::os
