#include "system/sensor.hpp"

namespace kestrane {

Accelerometer::Accelerometer()
{
    try {
        library_ = os::LoadModule("Sensor.dll");
        if (library_)
            entry_ = reinterpret_cast<os::SensorEntryPoint>(os::FindEntry(library_, "ShockproofGetAccelerometerData"));
    } catch (...) {
    }
    firstAxisOffset_ = 0;
    secondAxisOffset_ = 0;
    if (!entry_)
        return;
    // Deliberately not caught: a failing calibration ends start-up through the error box. The
    // library then stays loaded, since what it threw may still need its code.
    if (os::CallSensorEntry(entry_, record_.bytes.data()) != 0) {
        firstAxisOffset_ = -static_cast<int32_t>(record_.FirstAxis());
        secondAxisOffset_ = -static_cast<int32_t>(record_.SecondAxis());
        Update();
    }
}

Accelerometer::~Accelerometer()
{
    if (library_)
        os::ReleaseModule(library_);
}

bool Accelerometer::Update()
{
    if (!entry_)
        return false;
    try {
        os::CallSensorEntry(entry_, record_.bytes.data());
        firstAxisReading_ = static_cast<int32_t>(record_.FirstAxis()) + firstAxisOffset_;
        secondAxisReading_ = static_cast<int32_t>(record_.SecondAxis()) + secondAxisOffset_;
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kestrane
