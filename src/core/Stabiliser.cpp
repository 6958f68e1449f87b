#include "core/Stabiliser.hpp"

#include <cmath>

namespace kestrane {

int32_t ComputeDisplacement(int32_t reading)
{
    int32_t v = 4 * reading;  // |reading| <= 65535, so no overflow
    if (v > 0)
        v = static_cast<int32_t>(std::sqrt(static_cast<double>(v)));
    if (v < 0)
        v = static_cast<int32_t>(std::sqrt(static_cast<double>(-v)));
    return v;
}

StabiliserState StepStabiliser(int32_t left, int32_t top, int32_t firstAxisReading, int32_t secondAxisReading,
                               int32_t appliedHorizontal, int32_t appliedVertical)
{
    const int32_t h = ComputeDisplacement(secondAxisReading);
    const int32_t v = ComputeDisplacement(firstAxisReading);
    return {left - (appliedHorizontal - h), top - (appliedVertical - v), h, v};
}

}  // namespace kestrane
