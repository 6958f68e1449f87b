// The default Linux sensor library against fake sysfs trees in a fresh temporary folder.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Stabiliser.hpp"
#include "system/sensor.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Scale that makes one count one milli-g.
constexpr const char* kMilliG = "0.009806650\n";

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "kestrane-iio-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!path_.empty())
            fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

    void Write(const std::string& relative, const std::string& text) const
    {
        const fs::path file = path_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

private:
    fs::path path_;
};

using Files = std::vector<std::pair<std::string, std::string>>;

// A fresh copy of the library per test: released at the end, so its state starts anew.
class IioLibrary {
public:
    explicit IioLibrary(const fs::path& root)
    {
        handle_ = dlopen(KESTRANE_IIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            return;
        auto setRoot = reinterpret_cast<void (*)(const char*)>(dlsym(handle_, "KestraneIioSetRoot"));
        entry_ = reinterpret_cast<int32_t (*)(void*)>(dlsym(handle_, "ShockproofGetAccelerometerData"));
        if (setRoot)
            setRoot(root.c_str());
    }
    ~IioLibrary() { Release(); }
    IioLibrary(const IioLibrary&) = delete;
    IioLibrary& operator=(const IioLibrary&) = delete;

    bool Loaded() const { return handle_ && entry_; }
    void Release()
    {
        if (handle_)
            dlclose(handle_);
        handle_ = nullptr;
    }

    struct Reading {
        int32_t result;
        uint16_t first, second;
    };
    Reading Read() const
    {
        unsigned char record[20];
        std::fill(std::begin(record), std::end(record), 0xA5);
        const int32_t result = entry_(record);
        return {result, static_cast<uint16_t>(record[4] | record[5] << 8),
                static_cast<uint16_t>(record[6] | record[7] << 8)};
    }

    // Reads until `done` holds or a generous deadline passes; the library samples every few ms.
    template <typename Done>
    Reading ReadUntil(Done done) const
    {
        Reading r = Read();
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             !done(r) && std::chrono::steady_clock::now() < deadline; r = Read())
            std::this_thread::sleep_for(2ms);
        return r;
    }

private:
    void* handle_ = nullptr;
    int32_t (*entry_)(void*) = nullptr;
};

std::size_t ThreadCount()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& task : fs::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

}  // namespace

TEST(IioLibrary, ReadsTheChosenDeviceInMilliGAroundTheMiddle)
{
    struct Row {
        const char* what;
        Files files;
        int32_t result;
        uint16_t first, second;
    };
    const Row rows[] = {
        {"no device at all", {}, 0, 0, 0},
        {"a device without a y axis is not used",
         {{"iio:device0/in_accel_x_raw", "5\n"}, {"iio:device0/in_accel_scale", kMilliG}}, 0, 0, 0},
        {"the first reading comes from y, the second from x",
         {{"iio:device0/in_accel_x_raw", "-500\n"},
          {"iio:device0/in_accel_y_raw", "1000\n"},
          {"iio:device0/in_accel_scale", kMilliG}},
         1, 33768, 32268},
        {"offsets are added before scaling, an axis's own first",
         {{"iio:device0/in_accel_x_raw", "100\n"},
          {"iio:device0/in_accel_y_raw", "100\n"},
          {"iio:device0/in_accel_offset", "20\n"},
          {"iio:device0/in_accel_x_offset", "-50\n"},
          {"iio:device0/in_accel_scale", kMilliG}},
         1, 32888, 32818},
        {"an axis's own scale, and none means m/s²",
         {{"iio:device0/in_accel_x_raw", "100\n"},
          {"iio:device0/in_accel_x_scale", "0.019613300\n"},
          {"iio:device0/in_accel_y_raw", "10\n"}},
         1, 33788, 32968},
        {"clamped to 0..65535",
         {{"iio:device0/in_accel_x_raw", "-40000\n"},
          {"iio:device0/in_accel_y_raw", "40000\n"},
          {"iio:device0/in_accel_scale", kMilliG}},
         1, 65535, 0},
        {"the lowest number among the devices that offer x and y",
         {{"iio:device0/in_accel_x_raw", "1\n"},
          {"iio:device10/in_accel_x_raw", "10\n"},
          {"iio:device10/in_accel_y_raw", "10\n"},
          {"iio:device2/in_accel_x_raw", "2\n"},
          {"iio:device2/in_accel_y_raw", "2\n"},
          {"iio:device2/in_accel_scale", kMilliG},
          {"iio:device10/in_accel_scale", kMilliG}},
         1, 32770, 32770},
        {"the display's sensor before a lower number",
         {{"iio:device1/in_accel_x_raw", "1\n"},
          {"iio:device1/in_accel_y_raw", "1\n"},
          {"iio:device1/label", "accel-base\n"},
          {"iio:device7/in_accel_x_raw", "7\n"},
          {"iio:device7/in_accel_y_raw", "7\n"},
          {"iio:device7/label", "accel-display\n"},
          {"iio:device1/in_accel_scale", kMilliG},
          {"iio:device7/in_accel_scale", kMilliG}},
         1, 32775, 32775},
        {"the mount matrix turns the sensor into the device's frame",
         {{"iio:device0/in_accel_x_raw", "100\n"},
          {"iio:device0/in_accel_y_raw", "200\n"},
          {"iio:device0/in_accel_scale", kMilliG},
          {"iio:device0/in_accel_mount_matrix", "0, 1, 0; -1, 0, 0; 0, 0, 1\n"}},
         1, 32668, 32968},
        {"a matrix that mixes in z has z read",
         {{"iio:device0/in_accel_x_raw", "100\n"},
          {"iio:device0/in_accel_y_raw", "200\n"},
          {"iio:device0/in_accel_z_raw", "300\n"},
          {"iio:device0/in_accel_scale", kMilliG},
          {"iio:device0/mount_matrix", "0, 0, 1; 0, 0.5, 0.5; 1, 0, 0\n"}},
         1, 33018, 33068},
        {"a value that is not a number is no reading",
         {{"iio:device0/in_accel_x_raw", "0\n"}, {"iio:device0/in_accel_y_raw", "busy\n"}}, 0, 0, 0},
    };
    for (const Row& r : rows) {
        const TempFolder tree;
        for (const auto& [name, text] : r.files)
            tree.Write(name, text);
        const IioLibrary library(tree.Path());
        ASSERT_TRUE(library.Loaded()) << dlerror();
        const auto reading = library.Read();
        EXPECT_EQ(reading.result, r.result) << r.what;
        EXPECT_EQ(reading.first, r.first) << r.what;
        EXPECT_EQ(reading.second, r.second) << r.what;
    }
}

TEST(IioLibrary, FollowsTheSensorAndDrivesTheAccelerometer)
{
    const TempFolder tree;
    tree.Write("iio:device3/in_accel_x_raw", "0\n");
    tree.Write("iio:device3/in_accel_y_raw", "500\n");
    tree.Write("iio:device3/in_accel_scale", kMilliG);
    const IioLibrary library(tree.Path());
    ASSERT_TRUE(library.Loaded()) << dlerror();
    // The Accelerometer's bare "Sensor.dll" finds this copy, already loaded under that name.
    kestrane::Accelerometer accelerometer;
    EXPECT_EQ(accelerometer.FirstAxisReading(), 0);
    EXPECT_EQ(accelerometer.SecondAxisReading(), 0);

    tree.Write("iio:device3/in_accel_y_raw", "1500\n");
    const auto reading = library.ReadUntil([](auto r) { return r.first == 34268; });
    EXPECT_EQ(reading.first, 34268);
    EXPECT_TRUE(accelerometer.Update());
    EXPECT_EQ(accelerometer.FirstAxisReading(), 1000);
    EXPECT_EQ(accelerometer.SecondAxisReading(), 0);
    EXPECT_EQ(kestrane::ComputeDisplacement(accelerometer.FirstAxisReading()), 63) << "1 g";
}

// Without a reading at the first call there is no zero point: a sensor turning up later must not
// throw the window across the screen.
TEST(IioLibrary, StaysStillWhenTheFirstCallHadNoReading)
{
    const TempFolder tree;
    const IioLibrary library(tree.Path());
    ASSERT_TRUE(library.Loaded()) << dlerror();
    EXPECT_EQ(library.Read().result, 0);
    tree.Write("iio:device0/in_accel_x_raw", "1000\n");
    tree.Write("iio:device0/in_accel_y_raw", "1000\n");
    std::this_thread::sleep_for(1200ms);  // longer than the library's pause before it looks again
    const auto reading = library.Read();
    EXPECT_EQ(reading.result, 0);
    EXPECT_EQ(reading.first, 0);
    EXPECT_EQ(reading.second, 0);
}

// A device that does not answer (a pipe nobody writes to) holds up the library's thread only.
TEST(IioLibrary, ASilentDeviceNeverBlocksTheCallAndReleaseStopsTheThread)
{
    const TempFolder tree;
    tree.Write("iio:device0/in_accel_y_raw", "0\n");
    const fs::path silent = tree.Path() / "iio:device0/in_accel_x_raw";
    ASSERT_EQ(mkfifo(silent.c_str(), 0600), 0);
    const std::size_t threadsBefore = ThreadCount();
    {
        IioLibrary library(tree.Path());
        ASSERT_TRUE(library.Loaded()) << dlerror();
        for (int i = 0; i < 100; ++i) {
            const auto reading = library.Read();
            ASSERT_EQ(reading.result, 0);
            ASSERT_EQ(reading.first, 0);
        }
        EXPECT_EQ(ThreadCount(), threadsBefore + 1);
        // Let the device answer at last, so the thread can see it is to stop.
        const int answer = open(silent.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(answer, 0);
        close(answer);
        library.Release();
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_EQ(dlopen(KESTRANE_IIO_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
}
