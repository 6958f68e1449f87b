#pragma once
// Private to the Qt backend: the text area's own view of its bytes.
#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/TextBuffer.hpp"
#include "layer/TextCodec.hpp"
#include "qt/TextViewLayout.hpp"

namespace kestrane::qt {

// A multi-line plain text area whose document is a byte string in the code page, with CR LF line
// breaks. It shows the bytes decoded (a byte that does not decode as a boxed mark with its value),
// wraps rows at its width, and edits the bytes themselves: every byte an edit does not touch stays.
// Positions are byte offsets; the caret stops between characters, between the bytes of marks and
// never inside a CR LF.
class TextView : public QAbstractScrollArea {
public:
    explicit TextView(QWidget* parent = nullptr);
    ~TextView() override;

    // Replaces the document; no undo history, caret at the start, not modified. Throws
    // std::length_error beyond TextBuffer::kMaxSize.
    void SetBytes(std::string_view bytes);
    std::string Bytes() const { return text_.Bytes(); }
    std::size_t Size() const { return text_.Size(); }
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    // Called after every change of the bytes.
    void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    // The code page the bytes are in; the locale's unless set.
    void SetCharset(std::string_view charsetName);
    void SetFont(const QFont& font) { setFont(font); }
    void SetWordWrap(bool wrap);
    void SetScrollBars(bool horizontal, bool vertical);

    std::size_t Caret() const { return caret_; }
    std::size_t Anchor() const { return anchor_; }
    // Both clamped to the document and moved back to the nearest caret stop.
    void SetSelection(std::size_t anchor, std::size_t caret);
    std::string SelectedBytes() const;
    // Puts bytes in the place of the selection as one step to undo (zero bytes are dropped).
    void ReplaceSelection(std::string_view bytes);
    void SelectAll();
    void Copy();
    void Cut();
    void Paste();
    void Undo();
    void Redo();

    // Finishes laying out what is still estimated (done in the background otherwise).
    void LayoutAll();
    std::uint64_t RowCount() { return layout_.Index().Total(); }
    // The offsets at which a paragraph's rows begin.
    std::vector<std::size_t> RowStarts(std::size_t paragraph);

    // The private clipboard format that carries the selected bytes as they are.
    static constexpr const char* kBytesMime = "application/x-kestrane-bytes";

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    // A row of the view: paragraph and row within it.
    struct RowPos {
        std::size_t para = 0;
        std::uint32_t row = 0;
        auto operator<=>(const RowPos&) const = default;
    };
    enum class EditKind { Other, Typing, Backspace, Delete };
    struct Edit {
        std::size_t pos;
        std::string removed;
        std::string inserted;
        std::size_t anchorBefore;
        std::size_t caretBefore;
        EditKind kind;
    };

    // Layout and rows.
    void Relayout(bool fontChanged = false);
    double WrapWidth() const;
    int VisibleRows() const;
    RowPos RowOf(std::size_t offset, bool upstream);
    std::pair<std::size_t, std::size_t> RowRange(RowPos r);
    long Step(RowPos& r, long rows);
    void SetTop(RowPos top);
    void ClampTop();
    void SyncScrollBars();
    void EnsureCaretVisible();
    void StartIdleLayout();
    QRect CaretRect();
    std::size_t HitTest(QPoint viewportPoint, bool& upstream);

    // Caret stops and words.
    std::size_t Snap(std::size_t pos) const;
    std::size_t NextStop(std::size_t pos);
    std::size_t PrevStop(std::size_t pos);
    std::pair<std::size_t, std::size_t> RunAround(std::size_t pos);
    std::size_t WordLeft(std::size_t pos);
    std::size_t WordRight(std::size_t pos);

    // Editing.
    void MoveCaret(std::size_t pos, bool extend, bool upstream = false);
    void MoveVertically(long rows, bool extend);
    void Apply(std::size_t pos, std::size_t n, std::string bytes, EditKind kind);
    void ReplaceBytes(std::size_t pos, std::size_t n, std::string_view bytes);
    void DeleteTo(std::size_t other, EditKind kind);
    void TypeText(const QString& text);
    void Changed();
    void ResetBlink();
    QString Decode(std::string_view bytes) const;
    std::string Encode(const QString& text) const;

    void DrawRow(QPainter& painter, const ShapedRow& row, int y, bool lastOfParagraph);

    TextBuffer text_;
    std::unique_ptr<os::TextCodec> ownCodec_;
    TextLayout layout_{text_};
    bool wrap_ = true;

    std::size_t caret_ = 0;
    std::size_t anchor_ = 0;
    bool upstream_ = false;  // a caret at a row start is shown at the end of the row above
    double goalX_ = -1;      // where vertical moves aim; none while negative
    RowPos top_;
    int left_ = 0;  // horizontal scroll, in pixels
    bool syncing_ = false;

    std::vector<Edit> undo_;
    std::vector<Edit> redo_;
    bool mergeable_ = false;
    bool modified_ = false;
    std::function<void()> onChange_;

    QBasicTimer blink_;
    QBasicTimer idle_;
    QBasicTimer autoScroll_;
    bool caretOn_ = false;
    bool showSelection_ = false;
    bool selecting_ = false;
    QPoint dragPoint_;
    QString preedit_;
    int preeditCursor_ = 0;
    ShapedRow shaped_;
};

}  // namespace kestrane::qt
