#pragma once
#include <cstdint>

namespace kestrane {

// Pixels a window stands displaced for one calibrated reading: floor(sqrt(4*|r|)), never negative.
int32_t ComputeDisplacement(int32_t reading);

struct StabiliserState {
    int32_t left;
    int32_t top;
    int32_t appliedHorizontal;
    int32_t appliedVertical;
};

// One tick: the second-axis reading drives the horizontal, the first-axis reading the vertical.
// Only the change of displacement since the last tick moves the window, so a user's move stays.
StabiliserState StepStabiliser(int32_t left, int32_t top, int32_t firstAxisReading, int32_t secondAxisReading,
                               int32_t appliedHorizontal, int32_t appliedVertical);

}  // namespace kestrane
