#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrane {

// The block the sensor library fills; only the library writes it.
struct SensorRecord {
    static constexpr std::size_t kSize = 20;
    static constexpr std::size_t kFirstAxisOffset = 4;
    static constexpr std::size_t kSecondAxisOffset = 6;

    std::array<unsigned char, kSize> bytes{};

    // Little-endian and unsigned: 0xFFFF is 65535, never -1.
    uint16_t FirstAxis() const { return ReadU16(kFirstAxisOffset); }
    uint16_t SecondAxis() const { return ReadU16(kSecondAxisOffset); }

private:
    uint16_t ReadU16(std::size_t at) const
    {
        return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    }
};

static_assert(sizeof(SensorRecord) == SensorRecord::kSize);

}  // namespace kestrane
