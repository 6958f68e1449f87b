#pragma once
#include <string>
#include <string_view>

#include "core/CodePage.hpp"

namespace kestrane::os {

// The locale's character set, read once (setlocale(LC_ALL, "") is done by the first call).
const std::string& CodePageName();
const LeadByteTable& CodePageLeadBytes();

// UTF-8 text of the program converted to the code page; characters it lacks become '?'.
std::string FromUtf8(std::string_view utf8);

}  // namespace kestrane::os
