// The simulator library and its shared file, with the runtime folder pointed at a fresh temporary one.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "simulator/SharedReadings.hpp"

namespace fs = std::filesystem;
using kestrane::simulator::Readings;
using kestrane::simulator::SharedFile;

namespace {

class Simulator : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kestrane-sim-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            savedRuntimeDir_ = old;
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        path_ = folder_ / "kestrane-sensor";
        library_ = dlopen(KESTRANE_SIMULATOR_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        entry_ = reinterpret_cast<int32_t (*)(void*)>(dlsym(library_, "ShockproofGetAccelerometerData"));
        ASSERT_NE(entry_, nullptr);
    }
    void TearDown() override
    {
        if (library_)
            dlclose(library_);
        if (savedRuntimeDir_.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", savedRuntimeDir_.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // The readings the library reports; it must always report a good reading.
    Readings Read()
    {
        unsigned char record[20] = {};
        EXPECT_NE(entry_(record), 0);
        return {static_cast<uint16_t>(record[4] | record[5] << 8), static_cast<uint16_t>(record[6] | record[7] << 8)};
    }

    fs::path folder_;
    fs::path path_;

private:
    std::string savedRuntimeDir_;
    void* library_ = nullptr;
    int32_t (*entry_)(void*) = nullptr;
};

}  // namespace

TEST_F(Simulator, ReportsWhatThePadWritesAndRestsWithoutAFile)
{
    EXPECT_EQ(Read(), (Readings{32768, 32768})) << "no file";
    {
        SharedFile pad;
        ASSERT_TRUE(pad.OpenForWriting(path_.c_str())) << std::strerror(errno);
        EXPECT_EQ(Read(), (Readings{32768, 32768})) << "a new file starts at rest";
        pad.Store({1000, 65535});
        EXPECT_EQ(Read(), (Readings{1000, 65535}));
        pad.Store({0, 40000});
        EXPECT_EQ(Read(), (Readings{0, 40000}));
    }
    // Another file in its place is read, not the old mapping.
    fs::remove(path_);
    SharedFile pad;
    ASSERT_TRUE(pad.OpenForWriting(path_.c_str())) << std::strerror(errno);
    pad.Store({123, 456});
    EXPECT_EQ(Read(), (Readings{123, 456}));
    fs::remove(path_);
    EXPECT_EQ(Read(), (Readings{32768, 32768})) << "file removed";
}

TEST_F(Simulator, RestsOnAFileItCannotTrust)
{
    const fs::path elsewhere = folder_ / "elsewhere";
    {
        SharedFile good;
        ASSERT_TRUE(good.OpenForWriting(elsewhere.c_str()));
        good.Store({1, 2});
    }
    const struct {
        const char* what;
        void (*make)(const fs::path& path, const fs::path& elsewhere);
    } rows[] = {
        {"too short", [](const fs::path& p, const fs::path&) { std::ofstream(p) << "KSN"; }},
        {"not the layout", [](const fs::path& p, const fs::path&) { std::ofstream(p) << "twelve bytes"; }},
        {"a folder", [](const fs::path& p, const fs::path&) { fs::create_directory(p); }},
        {"a symbolic link to a good file", [](const fs::path& p, const fs::path& e) { fs::create_symlink(e, p); }},
    };
    for (const auto& r : rows) {
        r.make(path_, elsewhere);
        EXPECT_EQ(Read(), (Readings{32768, 32768})) << r.what;
        fs::remove(path_);
    }
}

TEST_F(Simulator, WriterRefusesALinkKeepsReadingsAndMakesAPrivateFile)
{
    const fs::path target = folder_ / "target";
    std::ofstream(target) << "someone's file";
    fs::create_symlink(target, path_);
    SharedFile pad;
    EXPECT_FALSE(pad.OpenForWriting(path_.c_str()));
    std::string text;
    std::getline(std::ifstream(target), text);
    EXPECT_EQ(text, "someone's file");
    fs::remove(path_);

    ASSERT_TRUE(pad.OpenForWriting(path_.c_str())) << std::strerror(errno);
    pad.Store({7, 8});
    pad.Close();
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(pad.OpenForWriting(path_.c_str()));
    EXPECT_EQ(pad.Load(), (Readings{7, 8})) << "a pad started again keeps the readings";
}

TEST_F(Simulator, SharedFilePathPrefersTheRuntimeFolder)
{
    char path[256];
    ASSERT_TRUE(kestrane::simulator::SharedFilePath(path, sizeof path));
    EXPECT_EQ(fs::path(path), path_);
    const std::string fallback = "/tmp/kestrane-sensor-" + std::to_string(geteuid());
    for (const char* runtimeDir : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
        if (runtimeDir)
            setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        ASSERT_TRUE(kestrane::simulator::SharedFilePath(path, sizeof path));
        EXPECT_EQ(std::string(path), fallback) << (runtimeDir ? runtimeDir : "unset");
    }
    volatile std::size_t tooSmall = 8;  // not a constant, which the compiler would warn about
    EXPECT_FALSE(kestrane::simulator::SharedFilePath(path, tooSmall));
}
