#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "layer/Forms.hpp"

namespace kestrane {

class TMemo;

// The text area's lines. For a memo they are its whole text in one piece: loading and saving
// never split it into lines.
class TStrings {
public:
    explicit TStrings(TMemo& memo) : memo_(memo) {}

    std::string Text() const;
    void SetText(std::string_view text);

    // Reads a document: its line breaks made CR LF, the text replaced only if it differs.
    void LoadFromFile(const std::string& fileName);
    // Writes the text's bytes exactly; an existing file is replaced only after a complete write.
    void SaveToFile(const std::string& fileName);

    // Suspend and resume redrawing; EndUpdate repaints once.
    void BeginUpdate();
    void EndUpdate();

private:
    TMemo& memo_;
};

// A multi-line text area. Its text is a byte string in the code page with CR LF line breaks;
// bytes that do not decode are kept and shown as marks.
class TMemo : public TDescribedComponent {
public:
    // The largest text the area takes, in bytes.
    static constexpr std::size_t kCapacity = 0x7FFFFFFE;

    TMemo(TComponent* AOwner, TForm* parent);
    ~TMemo() override;

    TStrings* Lines() { return &lines_; }

    std::size_t GetTextLen() const;
    std::string GetText() const;
    // Replaces the whole text in one step up to its first zero byte; false when refused.
    bool SetTextBuf(std::string_view text);

    void SetProperty(const PropertySetting& setting, DescriptionBinder& binder) override;

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    friend class TStrings;
    std::unique_ptr<Impl> impl_;
    TStrings lines_{*this};
};

}  // namespace kestrane
