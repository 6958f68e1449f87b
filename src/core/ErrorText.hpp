#pragma once
#include <string>

#include "core/CodePage.hpp"

namespace kestrane {

// The error box's text: "." is appended when the message is not empty and its last character
// (one or two bytes in the code page) compares above "." as unsigned bytes.
std::string ErrorBoxText(std::string message, const LeadByteTable& codePage);

}  // namespace kestrane
