#pragma once
// What every sensor library shares: how it exports, and where the readings go in the record.
#include <cstdint>

#define KESTRANE_SENSOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace kestrane::sensorlib {

// The reading of an axis at rest: the middle of 0..65535.
constexpr uint16_t kResting = 32768;

// The record is 20 bytes; the readings are unsigned 16-bit little-endian at offsets 4 and 6. Written
// byte by byte: the caller promises no alignment.
inline void WriteReadings(void* record, uint16_t first, uint16_t second)
{
    auto* bytes = static_cast<unsigned char*>(record);
    bytes[4] = static_cast<unsigned char>(first);
    bytes[5] = static_cast<unsigned char>(first >> 8);
    bytes[6] = static_cast<unsigned char>(second);
    bytes[7] = static_cast<unsigned char>(second >> 8);
}

}  // namespace kestrane::sensorlib

KESTRANE_SENSOR_EXPORT int32_t ShockproofGetAccelerometerData(void* record);
