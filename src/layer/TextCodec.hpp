#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace kestrane::os {

// Converts the text area's bytes (code page, CR LF breaks) to the UTF-16 a text widget shows and
// back, losing no byte: a byte that does not come back unchanged through decoding is shown as
// the mark U+DC00 + byte and turned back into that byte.
class TextCodec {
public:
    virtual ~TextCodec() = default;

    // CR LF becomes '\n'; lone CR and LF, other control characters but TAB, and characters a text
    // widget would change become marks.
    virtual std::u16string Decode(std::string_view bytes) const = 0;
    // '\n', U+2029 and U+2028 (the widget's line break) become CR LF, marks their bytes; the mark
    // of zero and U+0000 give nothing, as the text holds no zero byte; other lone surrogates and
    // characters the code page lacks become '?'.
    virtual std::string Encode(std::u16string_view text) const = 0;

    // Names as nl_langinfo(CODESET) gives them. A set the system cannot convert decodes ASCII only
    // and shows every other byte as a mark.
    static std::unique_ptr<TextCodec> ForCharset(std::string_view charsetName);
    // The codec of the locale's code page.
    static const TextCodec& System();
};

}  // namespace kestrane::os
