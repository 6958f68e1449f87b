#include <gtest/gtest.h>

#include "TestHex.hpp"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>
#include <string>
#include <vector>

#include "layer/TextCodec.hpp"

using kestrane::os::TextCodec;

namespace {

QString ToQString(const std::u16string& text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string RawText(const QPlainTextEdit& edit)
{
    const QString raw = edit.document()->toRawText();
    return std::u16string(reinterpret_cast<const char16_t*>(raw.utf16()), static_cast<std::size_t>(raw.size()));
}

std::string Utf8(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// Empty when equal, else where the strings part and what follows there, to keep failures short.
std::string FirstDifference(const std::string& got, const std::string& expected)
{
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at])
        ++at;
    if (at == got.size() && at == expected.size())
        return {};
    return "at byte " + std::to_string(at) + ": " + Hex(got.substr(at, 8)) + "instead of " +
           Hex(expected.substr(at, 8));
}

// Short lines keep the widget's layout quick.
void AppendLine(std::string& bytes, std::string_view line)
{
    bytes += line;
    bytes += "\r\n";
}

// Every single byte, then the given units, a few to a line.
std::string Sample(const std::vector<std::string>& units)
{
    std::string bytes;
    for (unsigned b = 1; b < 256; ++b)
        AppendLine(bytes, std::string(1, static_cast<char>(b)));
    for (std::size_t i = 0; i < units.size(); i += 16) {
        std::string line;
        for (std::size_t k = i; k < i + 16 && k < units.size(); ++k)
            line += units[k];
        AppendLine(bytes, line);
    }
    return bytes;
}

}  // namespace

// The widget changes only characters that the codec shows as marks, so whatever the codec shows
// as itself reaches the widget's raw text unchanged, also when copied and pasted inside the program.
TEST(TextCodecInTextWidget, ShowsAsMarksEveryCharacterTheWidgetChanges)
{
    const auto utf8 = TextCodec::ForCharset("UTF-8");
    std::u16string all;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c < 0xD800 || c > 0xDFFF)
            all += static_cast<char16_t>(c);
        if (c % 64 == 0)
            all += u'\n';  // short lines keep the widget's layout quick
    }
    all += u"\U0001F600";
    QPlainTextEdit edit;
    edit.setPlainText(ToQString(all));
    const std::u16string set = RawText(edit);
    edit.selectAll();
    edit.copy();
    edit.clear();
    edit.paste();
    const std::u16string pasted = RawText(edit);
    for (const std::u16string* raw : {&set, &pasted}) {
        ASSERT_EQ(raw->size(), all.size()) << "the widget added or dropped characters";
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::u16string shown = utf8->Decode(Utf8(all[i]));
            if ((*raw)[i] != all[i] && shown[0] == all[i])
                ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(all[i]) << " becomes U+"
                              << static_cast<unsigned>((*raw)[i]) << (raw == &set ? " when set" : " when pasted");
        }
    }
}

TEST(TextCodecInTextWidget, BytesComeBackThroughSettingEditingUndoAndPaste)
{
    std::vector<std::string> cp932Pairs, codePoints;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead)
        for (unsigned trail = 1; trail < 256; ++trail)
            if (lead <= 0x9F || lead >= 0xE0)
                cp932Pairs.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    for (char32_t c = 1; c < 0x110000; c += c < 0x10000 ? 1 : 0x3F1)
        if (c < 0xD800 || c > 0xDFFF)
            codePoints.push_back(Utf8(c));
    codePoints.push_back("\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE6\x97");
    const struct {
        const char* charset;
        std::string bytes;
    } rows[] = {
        {"SHIFT_JIS", Sample(cp932Pairs)},
        {"UTF-8", Sample(codePoints)},
        {"ISO-8859-1", Sample({})},
    };
    for (const auto& r : rows) {
        const auto codec = TextCodec::ForCharset(r.charset);
        const std::u16string text = codec->Decode(r.bytes);
        QPlainTextEdit edit;
        edit.setPlainText(ToQString(text));
        ASSERT_EQ(FirstDifference(codec->Encode(RawText(edit)), r.bytes), "") << r.charset << ": set";

        // A position in the document is an index into its UTF-16; the caret never splits a pair.
        std::size_t middle = text.size() / 2;
        if (text[middle - 1] >= 0xD800 && text[middle - 1] <= 0xDBFF)
            ++middle;
        QTextCursor cursor(edit.document());
        cursor.setPosition(static_cast<int>(middle));
        cursor.insertText(QStringLiteral("字\n"));
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, 3);
        cursor.removeSelectedText();
        edit.undo();
        edit.undo();
        ASSERT_EQ(FirstDifference(codec->Encode(RawText(edit)), r.bytes), "") << r.charset << ": edit and undo";

        edit.selectAll();
        edit.copy();
        edit.clear();
        edit.paste();
        ASSERT_EQ(FirstDifference(codec->Encode(RawText(edit)), r.bytes), "") << r.charset << ": copy and paste";
    }
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
