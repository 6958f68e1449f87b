#pragma once
// Private to the Qt backend: conversions between the program's byte strings and Qt's text.
#include <QString>
#include <string>
#include <string_view>

#include "layer/TextCodec.hpp"

namespace kestrane::qt {

// Code-page bytes as Qt text; bytes that do not decode become marks and come back unchanged.
inline QString FromCodePage(std::string_view bytes)
{
    const std::u16string text = os::TextCodec::System().Decode(bytes);
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToCodePage(const QString& text)
{
    return os::TextCodec::System().Encode(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                              static_cast<std::size_t>(text.size())));
}

}  // namespace kestrane::qt
