#include "layer/CodePage.hpp"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <string>

#include "layer/Exceptions.hpp"

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
    const std::string& to = CodePageName();
    if (to == "UTF-8")
        return std::string(utf8);
    // The Windows flavour of Shift-JIS, so backslash stays backslash.
    const std::string target = (CodePageLeadBytes().IsLeadByte(0x81) && to.find("JIS") != std::string::npos)
                                   ? std::string("CP932//TRANSLIT")
                                   : to + "//TRANSLIT";
    iconv_t cd = iconv_open(target.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(utf8);
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += '?';  // a character the code page lacks: skip one UTF-8 sequence
            do {
                ++in;
                --inLeft;
            } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
        }
    }
    iconv_close(cd);
    return out;
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
