// The default sensor library on Linux: the first IIO accelerometer, preferring the display's.
//
// Readings are acceleration in milli-g around 32768 (so 1 g moves the window by 63 pixels): the first
// axis from the device's y axis, the second from its x axis, after the device's mount matrix. Some
// devices take long to answer a read, so a thread of the library's own reads them and the entry point
// only hands out the latest pair.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "SensorLibrary.hpp"

namespace {

using namespace std::chrono_literals;
using kestrane::sensorlib::kResting;
using kestrane::sensorlib::WriteReadings;

constexpr const char* kDefaultRoot = "/sys/bus/iio/devices";
constexpr double kStandardGravity = 9.80665;
// Two samples per tick of the window's 50 ms timer.
constexpr auto kPollPause = 20ms;
// After a failed read or when no device is there yet.
constexpr auto kRetryPause = 1s;
// The first call takes the zero point, so it waits this long, once, for the first sample.
constexpr auto kFirstSampleWait = 1s;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// A decimal as sysfs prints it ("-0.009806650"). Our own parser: strtod would follow the program's
// locale, where the decimal mark may be a comma.
bool ParseDecimal(const char*& p, double& out)
{
    while (IsSpace(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    double value = 0;
    bool digits = false;
    for (; *p >= '0' && *p <= '9'; ++p, digits = true)
        value = value * 10 + (*p - '0');
    if (*p == '.') {
        double unit = 0.1;
        for (++p; *p >= '0' && *p <= '9'; ++p, unit /= 10, digits = true)
            value += (*p - '0') * unit;
    }
    out = negative ? -value : value;
    return digits;
}

bool OnlySpaceLeft(const char* p)
{
    while (IsSpace(*p))
        ++p;
    return *p == '\0';
}

// One attribute's number, read again from the start of an open file.
bool ReadNumber(int fd, double& out)
{
    char text[64];
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return false;
    text[n] = '\0';
    const char* p = text;
    return ParseDecimal(p, out) && OnlySpaceLeft(p) && std::isfinite(out);
}

bool ReadText(const std::string& path, char* text, std::size_t size)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = read(fd, text, size - 1);
    close(fd);
    if (n < 0)
        return false;
    text[n] = '\0';
    return true;
}

// "x1, y1, z1; x2, y2, z2; x3, y3, z3": row i gives device axis i from the sensor's x, y, z.
bool ParseMatrix(const char* p, double (&m)[3][3])
{
    for (int i = 0; i < 9; ++i) {
        if (!ParseDecimal(p, m[i / 3][i % 3]) || !std::isfinite(m[i / 3][i % 3]))
            return false;
        while (IsSpace(*p))
            ++p;
        if (i < 8 && *p++ != (i % 3 == 2 ? ';' : ','))
            return false;
    }
    return OnlySpaceLeft(p);
}

struct Channel {
    int raw = -1;
    int scale = -1;   // absent: the raw value is already in m/s²
    int offset = -1;  // absent: 0
};

// The chosen device's open attribute files.
class Device {
public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() { Close(); }

    bool IsOpen() const { return axes_[0].raw >= 0; }

    bool Open(const std::string& dir)
    {
        Close();
        double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        char text[256];
        if ((ReadText(dir + "/in_accel_mount_matrix", text, sizeof text) ||
             ReadText(dir + "/mount_matrix", text, sizeof text)) &&
            ParseMatrix(text, m)) {
            std::memcpy(matrix_, m, sizeof m);
        } else {
            const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
            std::memcpy(matrix_, identity, sizeof identity);
        }
        // Only the device's x and y are wanted; z only when the matrix mixes it into them.
        axisCount_ = (matrix_[0][2] != 0 || matrix_[1][2] != 0) ? 3 : 2;
        for (int a = 0; a < axisCount_; ++a) {
            const std::string axis = std::string(1, "xyz"[a]);
            Channel& c = axes_[a];
            c.raw = OpenAttribute(dir + "/in_accel_" + axis + "_raw");
            c.scale = OpenAttribute(dir + "/in_accel_" + axis + "_scale");
            if (c.scale < 0)
                c.scale = OpenAttribute(dir + "/in_accel_scale");
            c.offset = OpenAttribute(dir + "/in_accel_" + axis + "_offset");
            if (c.offset < 0)
                c.offset = OpenAttribute(dir + "/in_accel_offset");
            if (c.raw < 0) {
                Close();
                return false;
            }
        }
        return true;
    }

    void Close()
    {
        for (Channel& c : axes_) {
            for (int* fd : {&c.raw, &c.scale, &c.offset}) {
                if (*fd >= 0)
                    close(*fd);
                *fd = -1;
            }
        }
    }

    // Both readings, or false when an attribute could not be read.
    bool Read(uint16_t& first, uint16_t& second) const
    {
        double sensor[3] = {0, 0, 0};
        for (int a = 0; a < axisCount_; ++a) {
            const Channel& c = axes_[a];
            double raw = 0, scale = 1, offset = 0;
            if (!ReadNumber(c.raw, raw) || (c.scale >= 0 && !ReadNumber(c.scale, scale)) ||
                (c.offset >= 0 && !ReadNumber(c.offset, offset)))
                return false;
            sensor[a] = (raw + offset) * scale;
        }
        double device[2];
        for (int i = 0; i < 2; ++i)
            device[i] = matrix_[i][0] * sensor[0] + matrix_[i][1] * sensor[1] + matrix_[i][2] * sensor[2];
        if (!std::isfinite(device[0]) || !std::isfinite(device[1]))
            return false;
        first = ToReading(device[1]);
        second = ToReading(device[0]);
        return true;
    }

private:
    static int OpenAttribute(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }

    static uint16_t ToReading(double metresPerSecondSquared)
    {
        const double reading = kResting + metresPerSecondSquared / kStandardGravity * 1000.0;
        return static_cast<uint16_t>(std::lround(std::clamp(reading, 0.0, 65535.0)));
    }

    Channel axes_[3];
    int axisCount_ = 2;
    double matrix_[3][3] = {};
};

// The folder of the device to read: one offering x and y, the display's sensor first (a convertible
// has one in the lid and one in the base), then the lowest device number. Empty when there is none.
std::string ChooseDevice(const std::string& root)
{
    DIR* dir = opendir(root.c_str());
    if (!dir)
        return {};
    std::string best;
    bool bestIsDisplay = false;
    long bestNumber = LONG_MAX;
    while (const dirent* entry = readdir(dir)) {
        constexpr std::string_view prefix = "iio:device";
        const std::string_view name = entry->d_name;
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
            continue;
        char* end = nullptr;
        const long number = std::strtol(name.data() + prefix.size(), &end, 10);
        if (*end != '\0')
            continue;
        const std::string path = root + "/" + entry->d_name;
        if (access((path + "/in_accel_x_raw").c_str(), R_OK) != 0 ||
            access((path + "/in_accel_y_raw").c_str(), R_OK) != 0)
            continue;
        char label[128];
        const bool isDisplay = ReadText(path + "/label", label, sizeof label) && std::strstr(label, "accel-display");
        if (best.empty() || (isDisplay && !bestIsDisplay) || (isDisplay == bestIsDisplay && number < bestNumber)) {
            best = path;
            bestIsDisplay = isDisplay;
            bestNumber = number;
        }
    }
    closedir(dir);
    return best;
}

class Reader {
public:
    ~Reader() { Stop(); }

    void SetRoot(const char* root)
    {
        std::lock_guard lock(mutex_);
        if (!started_)
            root_ = root;
    }

    int32_t Get(void* record)
    {
        // The first call is the calibration read: with no sample by then there is no zero point,
        // so the library stays quiet for good and the window still.
        std::call_once(firstCall_, [this] {
            if (!Start() || !WaitForFirstSample()) {
                quiet_.store(true, std::memory_order_relaxed);
                Stop(/*join=*/false);  // it may be stuck in a read; joined on release
            }
        });
        if (quiet_.load(std::memory_order_relaxed)) {
            WriteReadings(record, 0, 0);
            return 0;
        }
        const uint64_t sample = latest_.load(std::memory_order_acquire);
        WriteReadings(record, static_cast<uint16_t>(sample), static_cast<uint16_t>(sample >> 16));
        return (sample & kGood) ? 1 : 0;
    }

private:
    // Bits 0-15 first reading, 16-31 second, kGood set when the latest read succeeded. One word, so
    // the pair is never torn.
    static constexpr uint64_t kGood = uint64_t{1} << 32;

    bool Start()
    {
        std::lock_guard lock(mutex_);
        started_ = true;
        try {
            thread_ = std::thread(&Reader::Run, this, root_);
        } catch (...) {
            return false;
        }
        return true;
    }

    bool WaitForFirstSample()
    {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, kFirstSampleWait, [this] { return firstPassDone_; });
        return (latest_.load(std::memory_order_acquire) & kGood) != 0;
    }

    void Stop(bool join = true)
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (join && thread_.joinable())
            thread_.join();
    }

    void Run(std::string root)
    {
        Device device;
        for (;;) {
            bool good = false;
            if (!device.IsOpen()) {
                const std::string dir = ChooseDevice(root);
                if (!dir.empty())
                    device.Open(dir);
            }
            uint16_t first = 0, second = 0;
            if (device.IsOpen() && device.Read(first, second)) {
                latest_.store(kGood | first | uint64_t{second} << 16, std::memory_order_release);
                good = true;
            } else {
                // Keep the last readings, so a device that goes away leaves the window where it is.
                latest_.fetch_and(~kGood, std::memory_order_release);
                device.Close();
            }
            std::unique_lock lock(mutex_);
            if (!firstPassDone_) {
                firstPassDone_ = true;
                wake_.notify_all();
            }
            if (wake_.wait_for(lock, good ? kPollPause : kRetryPause, [this] { return stop_; }))
                return;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::string root_ = kDefaultRoot;  // under mutex_
    bool started_ = false;             // under mutex_
    bool stop_ = false;                // under mutex_
    bool firstPassDone_ = false;       // under mutex_
    std::once_flag firstCall_;
    std::atomic<bool> quiet_{false};
    std::atomic<uint64_t> latest_{0};
    std::thread thread_;
};

// Destroyed when the library is released (or at exit), which stops and joins the thread.
Reader g_reader;

}  // namespace

KESTRANE_SENSOR_EXPORT int32_t ShockproofGetAccelerometerData(void* record)
{
    return g_reader.Get(record);
}

// For tests only: read a fake sysfs tree instead. Has effect only before the first read.
KESTRANE_SENSOR_EXPORT void KestraneIioSetRoot(const char* root)
{
    g_reader.SetRoot(root);
}
