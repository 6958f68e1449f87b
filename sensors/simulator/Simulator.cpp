// The simulator: readings set by another process (the sensor pad) through a small shared file. With
// no file it reports a sensor at rest, and it always reports a good reading.
#include <climits>

#include "SensorLibrary.hpp"
#include "simulator/SharedReadings.hpp"

namespace {

using kestrane::simulator::Readings;
using kestrane::simulator::SharedFile;

// Unmapped when the library is released.
SharedFile g_file;

Readings Current()
{
    char path[PATH_MAX];
    struct stat st {};
    if (!kestrane::simulator::SharedFilePath(path, sizeof path) || lstat(path, &st) != 0) {
        g_file.Close();
        return {};
    }
    // A file put in place of the old one (or one that appeared) is mapped afresh.
    if (!g_file.Maps(st))
        g_file.OpenForReading(path);
    return g_file.Load();
}

}  // namespace

KESTRANE_SENSOR_EXPORT int32_t ShockproofGetAccelerometerData(void* record)
{
    const Readings r = Current();
    kestrane::sensorlib::WriteReadings(record, r.first, r.second);
    return 1;
}
