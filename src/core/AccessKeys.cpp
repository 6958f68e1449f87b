#include "core/AccessKeys.hpp"

#include <array>
#include <cctype>

namespace kestrane {

namespace {
bool IsKeyChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80;
}
int Key(char c) { return std::toupper(static_cast<unsigned char>(c)); }

// Index of the character an explicit '&' marks, or npos ("&&" is a literal ampersand).
std::size_t MarkedKey(const std::string& caption)
{
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] != '&')
            return i + 1;
        ++i;
    }
    return std::string::npos;
}
}  // namespace

std::vector<std::string> WithAccessKeys(const std::vector<std::string>& captions)
{
    std::array<bool, 256> taken{};
    for (const auto& c : captions)
        if (auto k = MarkedKey(c); k != std::string::npos && IsKeyChar(c[k]))
            taken[Key(c[k])] = true;

    std::vector<std::string> shown;
    shown.reserve(captions.size());
    for (const auto& c : captions) {
        std::string s = c;
        if (MarkedKey(c) == std::string::npos) {
            for (std::size_t i = 0; i < c.size(); ++i) {
                if (IsKeyChar(c[i]) && !taken[Key(c[i])]) {
                    taken[Key(c[i])] = true;
                    s.insert(i, 1, '&');
                    break;
                }
            }
        }
        shown.push_back(std::move(s));
    }
    return shown;
}

}  // namespace kestrane
