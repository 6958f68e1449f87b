#pragma once
#include <cstdint>

#include "core/SensorRecord.hpp"
#include "core/Stabiliser.hpp"
#include "layer/Library.hpp"

namespace kestrane {

// Binds the sensor library: loads it, calibrates once, and refreshes two calibrated readings per
// Update. A missing library or entry point is not an error: Update then always fails and the
// readings stay 0, so the window never moves.
class Accelerometer {
public:
    Accelerometer();
    ~Accelerometer();
    Accelerometer(const Accelerometer&) = delete;
    Accelerometer& operator=(const Accelerometer&) = delete;

    // True when the read completed, whatever the library returned; false (readings unchanged)
    // when it raised or faulted, or when there is nothing to call.
    bool Update();

    int32_t FirstAxisReading() const { return firstAxisReading_; }
    int32_t SecondAxisReading() const { return secondAxisReading_; }

private:
    os::ModuleHandle library_ = nullptr;
    SensorRecord record_{};
    os::SensorEntryPoint entry_ = nullptr;
    int32_t firstAxisOffset_ = 0;
    int32_t secondAxisOffset_ = 0;
    int32_t firstAxisReading_ = 0;
    int32_t secondAxisReading_ = 0;
};

}  // namespace kestrane
