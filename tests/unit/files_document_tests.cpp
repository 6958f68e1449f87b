#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "layer/DocumentFile.hpp"
#include "layer/Exceptions.hpp"

using namespace kestrane;
using namespace kestrane::os;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

bool IsRoot() { return geteuid() == 0; }

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// What a folder holds, sorted; a temporary file left behind shows up here.
Names List(const std::string& folder)
{
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Save's sequence: create, write unless empty, commit.
void Save(const std::string& path, const std::string& text)
{
    DocumentWriter writer(path);
    if (!text.empty())
        writer.Write(text);
    writer.Commit();
}

std::string Load(const std::string& path)
{
    DocumentReader reader(path);
    const std::size_t size = reader.Size();
    std::string bytes = reader.ReadAll();
    EXPECT_EQ(bytes.size(), size) << path;
    return bytes;
}

// The exception `action` throws as E, or nothing when it throws nothing or something else.
template <class E>
std::optional<std::string> MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& e) {
        return e.Message();
    } catch (...) {
    }
    return std::nullopt;
}

// Another holder of a file: its own open file description with a lock of the given type.
class OtherHolder {
public:
    OtherHolder(const std::string& path, short type) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC))
    {
        struct flock lock {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        EXPECT_EQ(fcntl(fd_, F_OFD_SETLK, &lock), 0) << std::strerror(errno);
    }
    ~OtherHolder() { close(fd_); }

private:
    int fd_;
};

class DocumentFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrane-files-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};

TEST_F(DocumentFiles, RoundTripKeepsEveryByte)
{
    std::string allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes += static_cast<char>(b);
    const struct {
        const char* what;
        std::string text;
    } rows[] = {
        {"every byte value", allBytes + allBytes},
        {"breaks as they are", "a\r\nb\rc\nd\n\r"},
        {"no final break", "last line"},
        {"empty", ""},
    };
    for (const auto& r : rows) {
        const std::string path = Path("doc");
        Save(path, r.text);
        EXPECT_EQ(ReadFile(path), r.text) << "new file: " << r.what;
        EXPECT_EQ(Load(path), r.text) << r.what;
        Save(path, r.text + "x");
        Save(path, r.text);
        EXPECT_EQ(ReadFile(path), r.text) << "over an existing file: " << r.what;
        EXPECT_EQ(List(dir_), Names{"doc"}) << r.what;
    }
}

TEST_F(DocumentFiles, ReaderRefusesWhatIsNotARegularFile)
{
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = Path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    for (const std::string& path : {Path("missing"), Path("folder"), Path("fifo"), socketPath,
                                    std::string("/dev/zero"), Path("missing-folder/doc")})
        EXPECT_EQ(MessageOf<EFOpenError>([&] { DocumentReader reader(path); }), ProgramText(Msg::FOpenError, path))
            << path;
    close(sock);
}

TEST_F(DocumentFiles, ReaderReadsTheSizeSeenAtOpeningAndNoMore)
{
    const std::string path = Path("doc");
    WriteFile(path, std::string(1000, 'a'));
    {
        DocumentReader reader(path);
        ASSERT_EQ(reader.Size(), 1000u);
        ASSERT_EQ(truncate(path.c_str(), 10), 0);
        EXPECT_EQ(reader.ReadAll(), std::string(10, 'a')) << "a short read loads only the bytes read";
    }
    {
        DocumentReader reader(path);
        ASSERT_EQ(reader.Size(), 10u);
        std::ofstream(path, std::ios::binary | std::ios::app) << "more";
        EXPECT_EQ(reader.ReadAll(), std::string(10, 'a')) << "bytes added after opening are not read";
    }
}

TEST_F(DocumentFiles, LocksOfOtherHolders)
{
    const std::string path = Path("doc");
    const std::string old = "old text";
    WriteFile(path, old);
    const struct {
        const char* what;
        std::optional<short> lock;
        bool readable, writable;
    } rows[] = {
        {"nobody holds it", std::nullopt, true, true},
        {"another reader", F_RDLCK, true, false},
        {"another writer", F_WRLCK, false, false},
    };
    for (const auto& r : rows) {
        std::optional<OtherHolder> holder;
        if (r.lock)
            holder.emplace(path, *r.lock);
        const auto openError = MessageOf<EFOpenError>([&] { DocumentReader reader(path); });
        EXPECT_EQ(openError, r.readable ? std::nullopt : std::optional(ProgramText(Msg::FOpenError, path))) << r.what;
        const auto createError = MessageOf<EFCreateError>([&] { DocumentWriter writer(path); });
        EXPECT_EQ(createError, r.writable ? std::nullopt : std::optional(ProgramText(Msg::FCreateError, path)))
            << r.what;
        EXPECT_EQ(ReadFile(path), old) << r.what;
        EXPECT_EQ(List(dir_), Names{"doc"}) << r.what;
    }
}

TEST_F(DocumentFiles, OpenAndSaveExcludeEachOther)
{
    const std::string path = Path("doc");
    WriteFile(path, "old");
    {
        DocumentReader reader(path);
        EXPECT_TRUE(MessageOf<EFCreateError>([&] { DocumentWriter writer(path); })) << "Save while Open reads";
    }
    {
        DocumentWriter writer(path);
        EXPECT_TRUE(MessageOf<EFOpenError>([&] { DocumentReader reader(path); })) << "Open while Save writes";
        EXPECT_TRUE(MessageOf<EFCreateError>([&] { DocumentWriter second(path); })) << "a second Save";
        writer.Write("new");
        writer.Commit();
        EXPECT_EQ(Load(path), "new") << "the lock ends with Commit";
    }
}

TEST_F(DocumentFiles, WriterRefusesBeforeWritingAnything)
{
    WriteFile(Path("readonly"), "old");
    ASSERT_EQ(chmod(Path("readonly").c_str(), 0444), 0);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("loop-b", Path("loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", Path("loop-b").c_str()), 0);
    ASSERT_EQ(symlink("missing-folder/doc", Path("link-into-missing-folder").c_str()), 0);
    const Names before = List(dir_);
    for (const std::string& path :
         {Path("readonly"), Path("folder"), Path("fifo"), std::string("/dev/null"), Path("missing-folder/doc"),
          Path("readonly/doc"), Path("folder/"), Path("loop-a"), Path("link-into-missing-folder")})
        EXPECT_EQ(MessageOf<EFCreateError>([&] { Save(path, "new"); }), ProgramText(Msg::FCreateError, path)) << path;
    EXPECT_EQ(ReadFile(Path("readonly")), "old");
    EXPECT_EQ(List(dir_), before);
    EXPECT_TRUE(List(Path("folder")).empty());
}

TEST_F(DocumentFiles, RootIsRefusedOnlyAFileWithNoWriteBitAtAll)
{
    if (!IsRoot())
        GTEST_SKIP() << "giving a file to another owner needs root";
    const struct {
        uid_t uid;
        gid_t gid;
        mode_t mode;
        bool refused;
    } rows[] = {
        {0, 0, 0444, true},          {0, 0, 0644, false},         {0, 0, 0466, false},
        {12345, 12345, 0644, false}, {12345, 12345, 0444, true},  {12345, 0, 0620, false},
        {12345, 0, 0400, true},      {12345, 0, 0002, false},
    };
    for (const auto& r : rows) {
        const std::string path = Path("doc");
        WriteFile(path, "old");
        ASSERT_EQ(chown(path.c_str(), r.uid, r.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), r.mode), 0);
        const bool refused = MessageOf<EFCreateError>([&] { Save(path, "new"); }).has_value();
        EXPECT_EQ(refused, r.refused) << "owner " << r.uid << ":" << r.gid << " mode " << std::oct << r.mode;
        EXPECT_EQ(ReadFile(path), r.refused ? "old" : "new");
        EXPECT_EQ(List(dir_), Names{"doc"});
        unlink(path.c_str());
    }
}

TEST_F(DocumentFiles, WriterWritesThroughSymbolicLinks)
{
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0700), 0);
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links;  // name, link text
        std::string saved, target;
    } rows[] = {
        {"relative", {{"link", "doc"}}, "link", "doc"},
        {"absolute", {{"link", Path("doc")}}, "link", "doc"},
        {"a chain", {{"link", "link2"}, {"link2", "sub/doc"}}, "link", "sub/doc"},
        {"into another folder", {{"sub/link", "../doc"}}, "sub/link", "doc"},
        {"dangling", {{"link", "sub/new"}}, "link", "sub/new"},
    };
    for (const auto& r : rows) {
        WriteFile(Path("doc"), "old");
        WriteFile(Path("sub/doc"), "old");
        for (const auto& [name, text] : r.links)
            ASSERT_EQ(symlink(text.c_str(), Path(name).c_str()), 0) << r.what;
        const Names top = List(dir_), sub = List(Path("sub"));

        Save(Path(r.saved), "new");
        EXPECT_EQ(ReadFile(Path(r.target)), "new") << r.what;
        for (const auto& [name, text] : r.links)
            EXPECT_EQ(fs::read_symlink(Path(name)).string(), text) << r.what << ": " << name << " stays a link";
        Names expectedSub = sub;
        if (r.target == "sub/new")
            expectedSub = {"doc", "new"};
        EXPECT_EQ(List(dir_), top) << r.what;
        EXPECT_EQ(List(Path("sub")), expectedSub) << r.what;

        for (const auto& link : r.links)
            unlink(Path(link.first).c_str());
        unlink(Path("sub/new").c_str());
    }
}

TEST_F(DocumentFiles, WriterKeepsHardLinks)
{
    for (const std::string& text : {std::string(10000, 'n'), std::string("new"), std::string()}) {
        const std::string a = Path("a"), b = Path("b");
        WriteFile(a, std::string(100, 'o'));
        ASSERT_EQ(link(a.c_str(), b.c_str()), 0);
        struct stat before, after;
        ASSERT_EQ(stat(a.c_str(), &before), 0);
        Save(a, text);
        ASSERT_EQ(stat(a.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << text.size() << " bytes";
        EXPECT_EQ(after.st_nlink, 2u) << text.size() << " bytes";
        EXPECT_EQ(ReadFile(a), text) << text.size() << " bytes";
        EXPECT_EQ(ReadFile(b), text) << text.size() << " bytes";
        EXPECT_EQ(List(dir_), (Names{"a", "b"}));
        unlink(a.c_str());
        unlink(b.c_str());
    }
}

TEST_F(DocumentFiles, WriterKeepsPermissionsAndOwner)
{
    const std::string path = Path("doc");
    for (mode_t mode : {0600, 0640, 0755, 04755}) {
        WriteFile(path, "old");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        Save(path, "new");
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
        EXPECT_EQ(ReadFile(path), "new");
        unlink(path.c_str());
    }

    if (IsRoot()) {
        // Group-writable, so the group class lets root write it.
        WriteFile(path, "old");
        ASSERT_EQ(chown(path.c_str(), 12345, getegid()), 0);
        ASSERT_EQ(chmod(path.c_str(), 0664), 0);
        Save(path, "new");
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 12345u) << "the owner is kept";
        EXPECT_EQ(st.st_gid, getegid());
        EXPECT_EQ(st.st_mode & 07777, 0664u);
        unlink(path.c_str());
    }

    const mode_t previous = umask(027);
    Save(path, "new");
    umask(previous);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "a new file gets 0666 less the umask";
}

TEST_F(DocumentFiles, WriterWithoutCommitLeavesEverythingAsItWas)
{
    WriteFile(Path("doc"), "old");
    {
        DocumentWriter writer(Path("doc"));
        writer.Write("new");
    }
    {
        DocumentWriter writer(Path("new"));
        writer.Write("new");
    }
    EXPECT_EQ(ReadFile(Path("doc")), "old");
    EXPECT_EQ(List(dir_), Names{"doc"});
}

TEST_F(DocumentFiles, WriterRewritesInPlaceWhereTheFolderTakesNoNewFile)
{
    // Root may create files anywhere, so the Save runs in a child that is nobody.
    const std::string path = Path("doc");
    WriteFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    const auto save = [&] {
        try {
            Save(path, "new");
            return true;
        } catch (const Exception&) {
            return false;
        }
    };
    if (!IsRoot()) {
        EXPECT_TRUE(save());
    } else {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 && save() ? 0 : 1);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(List(dir_), Names{"doc"});
}

// Going past the file-size limit fails the write instead of ending the program, in both ways of
// writing: a limit of 0 has the kernel signal at the first byte, 4096 cuts the write short.
TEST_F(DocumentFiles, FileSizeLimitIsAWriteError)
{
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction before;
    ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &before), 0);
    for (const rlim_t limit : {rlim_t{0}, rlim_t{4096}}) {
        for (const bool hardLinked : {false, true}) {
            const std::string path = Path("doc");
            WriteFile(path, "old");
            if (hardLinked) {
                ASSERT_EQ(link(path.c_str(), Path("other name").c_str()), 0);
            }
            struct rlimit lowered = saved;
            lowered.rlim_cur = limit;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
            const auto error = MessageOf<EWriteError>([&] { Save(path, std::string(8192, 'n')); });
            setrlimit(RLIMIT_FSIZE, &saved);
            const std::string what = "limit " + std::to_string(limit) + (hardLinked ? ", hard-linked" : "");
            EXPECT_EQ(error, ProgramText(Msg::WriteError)) << what;
            EXPECT_EQ(ReadFile(path), "old") << what;
            EXPECT_EQ(List(dir_), hardLinked ? (Names{"doc", "other name"}) : Names{"doc"}) << what;
            struct sigaction after;
            ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &after), 0);
            EXPECT_EQ(after.sa_handler, before.sa_handler) << what << ": the signal's handling is restored";
            unlink(Path("other name").c_str());
        }
    }
}

// A 64 KiB filesystem of its own, mounted inside the test's folder while the test runs.
class SmallFilesystem : public DocumentFiles {
protected:
    void SetUp() override
    {
        DocumentFiles::SetUp();
        mount_ = Path("mnt");
        ASSERT_EQ(mkdir(mount_.c_str(), 0700), 0);
        if (mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root: " << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            umount2(mount_.c_str(), MNT_DETACH);
        DocumentFiles::TearDown();
    }
    std::string In(const std::string& name) const { return mount_ + "/" + name; }

    // Fills the filesystem to the last byte.
    void Fill()
    {
        const int fd = open(In("filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        EXPECT_EQ(errno, ENOSPC);
        close(fd);
    }

    std::string mount_;
    bool mounted_ = false;
};

TEST_F(SmallFilesystem, FullDiskIsAWriteErrorAndKeepsTheOldFile)
{
    const struct {
        const char* what;
        bool exists, hardLinked;
    } rows[] = {
        {"over a file", true, false},
        {"over a hard-linked file: the reservation fails first", true, true},
        {"a new file", false, false},
    };
    for (const auto& r : rows) {
        const std::string old(3000, 'o');
        Names names;
        if (r.exists) {
            WriteFile(In("doc"), old);
            names.push_back("doc");
        }
        if (r.hardLinked) {
            ASSERT_EQ(link(In("doc").c_str(), In("doc2").c_str()), 0);
            names.push_back("doc2");
        }
        Fill();
        names.push_back("filler");

        const auto error = MessageOf<EWriteError>([&] { Save(In("doc"), std::string(20000, 'n')); });
        EXPECT_EQ(error, ProgramText(Msg::WriteError)) << r.what;
        if (r.exists) {
            EXPECT_EQ(ReadFile(In("doc")), old) << r.what;
        }
        if (r.hardLinked) {
            EXPECT_EQ(ReadFile(In("doc2")), old) << r.what;
        }
        EXPECT_EQ(List(mount_), names) << r.what;
        for (const auto& name : names)
            unlink(In(name).c_str());
    }
}

TEST_F(SmallFilesystem, ReadOnlyFilesystemIsRefused)
{
    WriteFile(In("doc"), "old");
    ASSERT_EQ(mount(nullptr, mount_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    for (const std::string& path : {In("doc"), In("new")})
        EXPECT_EQ(MessageOf<EFCreateError>([&] { Save(path, "new"); }), ProgramText(Msg::FCreateError, path)) << path;
    EXPECT_EQ(ReadFile(In("doc")), "old");
    EXPECT_EQ(List(mount_), Names{"doc"});
}

}  // namespace
