#include "core/LineBreaks.hpp"
#include "layer/CodePage.hpp"
#include "layer/DocumentFile.hpp"
#include "layer/StdCtrls.hpp"

namespace kestrane {

std::string TStrings::Text() const { return memo_.GetText(); }

void TStrings::SetText(std::string_view text)
{
    if (!memo_.SetTextBuf(text))
        throw EInvalidOperation(ProgramText(Msg::MemoTooLarge));
}

void TStrings::LoadFromFile(const std::string& fileName)
{
    os::DocumentReader file(fileName);
    BusyCursor busy;
    BeginUpdate();
    try {
        // Refused before reading: the text area could not take it anyway.
        if (file.Size() > TMemo::kCapacity)
            throw EInvalidOperation(ProgramText(Msg::MemoTooLarge));
        std::string text = NormaliseLineBreaks(file.ReadAll(), os::CodePageLeadBytes());
        text.resize(std::min(text.size(), text.find('\0')));
        // An unchanged text keeps its caret, selection and scroll position.
        if (text != memo_.GetText())
            SetText(text);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::SaveToFile(const std::string& fileName)
{
    os::DocumentWriter file(fileName);
    BusyCursor busy;
    const std::string text = memo_.GetText();
    if (!text.empty())
        file.Write(text);
    file.Commit();
}

}  // namespace kestrane
