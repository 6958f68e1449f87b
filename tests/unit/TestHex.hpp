#pragma once
// Bytes as hex pairs, so a failing comparison of byte strings reads at a glance.
#include <cstdio>
#include <string>
#include <string_view>

inline std::string Hex(std::string_view bytes)
{
    std::string out;
    char buffer[4];
    for (unsigned char b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", b);
        out += buffer;
    }
    return out;
}
