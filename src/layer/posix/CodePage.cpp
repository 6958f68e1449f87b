#include "layer/CodePage.hpp"

#include <langinfo.h>

#include <clocale>
#include <string>

#include "layer/Exceptions.hpp"
#include "layer/TextCodec.hpp"

namespace kestrane::os {

const std::string& CodePageName()
{
    static const std::string name = [] {
        std::setlocale(LC_ALL, "");
        const char* cs = nl_langinfo(CODESET);
        return std::string(cs && *cs ? cs : "ANSI_X3.4-1968");
    }();
    return name;
}

const LeadByteTable& CodePageLeadBytes()
{
    static const LeadByteTable table = LeadByteTable::ForCharset(CodePageName());
    return table;
}

std::string FromUtf8(std::string_view utf8)
{
    static const auto utf8Codec = TextCodec::ForCharset("UTF-8");
    return TextCodec::System().Encode(utf8Codec->Decode(utf8));
}

}  // namespace kestrane::os

namespace kestrane {

std::string ProgramText(const char* utf8Format, const std::string& argument)
{
    std::string text = os::FromUtf8(utf8Format);
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, argument);
    return text;
}

}  // namespace kestrane
