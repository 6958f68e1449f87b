#pragma once
#include <string>
#include <string_view>

#include "core/CodePage.hpp"

namespace kestrane {

// Makes every CR LF, lone CR and lone LF a CR LF. A lead byte and the byte after it are one
// character, so a CR or LF in second place is copied, not taken as a break.
std::string NormaliseLineBreaks(std::string_view input, const LeadByteTable& codePage);

}  // namespace kestrane
