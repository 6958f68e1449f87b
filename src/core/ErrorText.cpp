#include "core/ErrorText.hpp"

namespace kestrane {

std::string ErrorBoxText(std::string message, const LeadByteTable& codePage)
{
    if (message.empty())
        return message;
    // Two-byte characters can only be found walking forward from the start.
    std::size_t last = 0;
    for (std::size_t i = 0; i < message.size(); i += codePage.CharLength(message, i))
        last = i;
    // Every two-byte character starts with a lead byte above '.', so its first byte decides.
    if (static_cast<unsigned char>(message[last]) > static_cast<unsigned char>('.'))
        message += '.';
    return message;
}

}  // namespace kestrane
