#include "qt/TextView.hpp"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

#include "layer/CodePage.hpp"

namespace kestrane::qt {

namespace {

constexpr int kMargin = 3;
// The background layout works in slices this long, so typing goes on while it runs.
constexpr std::chrono::milliseconds kIdleSlice{8};

constexpr bool IsMark(char32_t u) { return u >= 0xDC00 && u <= 0xDCFF; }

// Runs of like characters make the words of word moves and double-clicks.
enum class CharKind { Blank, Word, Punctuation, Mark, Hiragana, Katakana, Han, None };

CharKind KindOf(const Cell& c)
{
    if (c.mark)
        return CharKind::Mark;
    if (c.ch == ' ' || c.ch == '\t' || c.ch == 0x3000)
        return CharKind::Blank;
    switch (QChar::script(c.ch)) {
    case QChar::Script_Hiragana:
        return CharKind::Hiragana;
    case QChar::Script_Katakana:
        return CharKind::Katakana;
    case QChar::Script_Han:
        return CharKind::Han;
    default:
        break;
    }
    if (c.ch == 0x30FC)  // the prolonged sound mark belongs to the katakana around it
        return CharKind::Katakana;
    if (QChar::isLetterOrNumber(c.ch) || QChar::isMark(c.ch) || c.ch == '_')
        return CharKind::Word;
    return CharKind::Punctuation;
}

// Text another program put beside our bytes may have lost the marks ('?' or U+FFFD in their place).
bool SameText(const QString& decoded, const QString& text)
{
    if (decoded.size() != text.size())
        return false;
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const char16_t d = decoded[i].unicode(), t = text[i].unicode();
        if (d != t && !(IsMark(d) && (t == u'?' || t == 0xFFFD)))
            return false;
    }
    return true;
}

bool Printable(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            return false;
    return true;
}

}  // namespace

TextView::TextView(QWidget* parent) : QAbstractScrollArea(parent)
{
    text_.SetUnits(CharUnits::ForCharset(os::CodePageName()));
    layout_.SetCodec(os::TextCodec::System());
    layout_.SetFont(font());
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // A bar that came and went with the rows it allows would change the width the rows wrap at.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Relayout();
}

TextView::~TextView() = default;

void TextView::SetBytes(std::string_view bytes)
{
    text_.Assign(bytes);
    undo_.clear();
    redo_.clear();
    mergeable_ = false;
    modified_ = false;
    caret_ = anchor_ = 0;
    upstream_ = false;
    goalX_ = -1;
    top_ = {};
    left_ = 0;
    layout_.Reset();
    SyncScrollBars();
    StartIdleLayout();
    viewport()->update();
    updateMicroFocus();
    if (onChange_)
        onChange_();
}

void TextView::SetCharset(std::string_view charsetName)
{
    ownCodec_ = os::TextCodec::ForCharset(charsetName);
    text_.SetUnits(CharUnits::ForCharset(charsetName));
    layout_.SetCodec(*ownCodec_);
    caret_ = Snap(caret_);
    anchor_ = Snap(anchor_);
    top_ = {std::min(top_.para, text_.Paragraphs() - 1), 0};
    SyncScrollBars();
    StartIdleLayout();
    viewport()->update();
}

void TextView::SetWordWrap(bool wrap)
{
    wrap_ = wrap;
    left_ = 0;
    Relayout();
}

void TextView::SetScrollBars(bool horizontal, bool vertical)
{
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

// Layout and rows.

void TextView::Relayout(bool fontChanged)
{
    const std::size_t topOffset = RowRange(top_).first;
    if (fontChanged)
        layout_.SetFont(font());
    layout_.SetWrap(wrap_, WrapWidth());
    top_ = RowOf(topOffset, false);
    horizontalScrollBar()->setSingleStep(std::max(1, layout_.RowHeight() / 2));
    SyncScrollBars();
    StartIdleLayout();
    viewport()->update();
    updateMicroFocus();
}

double TextView::WrapWidth() const { return std::max(1, viewport()->width() - 2 * kMargin - 1); }

int TextView::VisibleRows() const { return std::max(1, viewport()->height() / layout_.RowHeight()); }

TextView::RowPos TextView::RowOf(std::size_t offset, bool upstream)
{
    const std::size_t p = text_.ParagraphOf(offset);
    return {p, layout_.RowAt(p, offset - text_.ParagraphStart(p), upstream)};
}

std::pair<std::size_t, std::size_t> TextView::RowRange(RowPos r)
{
    const std::size_t start = text_.ParagraphStart(r.para);
    const std::size_t end =
        layout_.HasRow(r.para, r.row + 1) ? start + layout_.RowStart(r.para, r.row + 1) : text_.ParagraphEnd(r.para);
    return {start + layout_.RowStart(r.para, r.row), end};
}

long TextView::Step(RowPos& r, long rows)
{
    long moved = 0;
    for (; rows > 0; --rows, ++moved) {
        if (layout_.HasRow(r.para, r.row + 1)) {
            ++r.row;
        } else if (r.para + 1 < text_.Paragraphs()) {
            r = {r.para + 1, 0};
        } else {
            break;
        }
    }
    for (; rows < 0; ++rows, ++moved) {
        if (r.row > 0) {
            --r.row;
        } else if (r.para > 0) {
            --r.para;
            r.row = layout_.RowCount(r.para) - 1;
        } else {
            break;
        }
    }
    return moved;
}

void TextView::ClampTop()
{
    if (top_.para >= text_.Paragraphs())
        top_ = {text_.Paragraphs() - 1, 0};
    if (!layout_.HasRow(top_.para, top_.row))
        top_.row = layout_.RowCount(top_.para) - 1;
    // The last row stays at the bottom while the text fills the view.
    const long below = VisibleRows() - 1;
    RowPos r = top_;
    if (Step(r, below) < below) {
        Step(r, -below);
        top_ = r;
    }
}

void TextView::SetTop(RowPos top)
{
    top_ = top;
    ClampTop();
    SyncScrollBars();
    viewport()->update();
}

void TextView::SyncScrollBars()
{
    syncing_ = true;
    const auto visible = static_cast<std::uint64_t>(VisibleRows());
    const RowIndex& index = layout_.Index();
    const std::uint64_t at = index.Before(top_.para) + top_.row;
    const std::uint64_t most = std::max(index.Total() > visible ? index.Total() - visible : 0, at);
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, static_cast<int>(std::min<std::uint64_t>(most, INT_MAX)));
    v->setPageStep(static_cast<int>(visible));
    v->setValue(static_cast<int>(std::min<std::uint64_t>(at, INT_MAX)));
    QScrollBar* h = horizontalScrollBar();
    const int wide = wrap_ ? 0 : static_cast<int>(std::ceil(layout_.WidestRow())) + 2 * kMargin + 1;
    h->setRange(0, std::max(0, wide - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setValue(left_);
    left_ = h->value();
    syncing_ = false;
}

void TextView::scrollContentsBy(int dx, int dy)
{
    if (syncing_)
        return;
    if (dy != 0) {
        QScrollBar* v = verticalScrollBar();
        if (v->value() >= v->maximum() && v->maximum() > 0) {
            // The end of the bar is the end of the text, whatever the estimates above it say.
            const std::size_t last = text_.Paragraphs() - 1;
            SetTop({last, layout_.RowCount(last) - 1});
        } else {
            const auto [para, row] = layout_.Index().Find(static_cast<std::uint64_t>(v->value()));
            SetTop({para, row});
        }
    }
    if (dx != 0)
        left_ = horizontalScrollBar()->value();
    viewport()->update();
    updateMicroFocus();
}

void TextView::EnsureCaretVisible()
{
    const long visible = VisibleRows();
    const RowPos c = RowOf(caret_, upstream_);
    ClampTop();
    RowPos top = top_;
    if (c < top) {
        top = c;
    } else {
        RowPos r = top;
        long d = 0;
        while (r < c && d < visible && Step(r, 1) == 1)
            ++d;
        if (d >= visible) {
            top = c;
            Step(top, -(visible - 1));
        }
    }
    if (!wrap_) {
        const auto [start, end] = RowRange(c);
        const double x = layout_.XOf(start, end, caret_);
        const int width = viewport()->width() - 2 * kMargin - 1;
        if (x < left_)
            left_ = std::max(0, static_cast<int>(x) - width / 4);
        else if (x > left_ + width)
            left_ = static_cast<int>(x) - width * 3 / 4;
    }
    SetTop(top);
}

void TextView::StartIdleLayout()
{
    if (!idle_.isActive())
        idle_.start(0, this);
}

void TextView::LayoutAll()
{
    while (layout_.LayOutSome(std::chrono::hours(1))) {
    }
    idle_.stop();
    SyncScrollBars();
}

std::vector<std::size_t> TextView::RowStarts(std::size_t paragraph)
{
    std::vector<std::size_t> out;
    for (std::uint32_t s : layout_.Rows(paragraph))
        out.push_back(text_.ParagraphStart(paragraph) + s);
    return out;
}

QRect TextView::CaretRect()
{
    const int rh = layout_.RowHeight();
    const RowPos c = RowOf(caret_, upstream_);
    RowPos r = top_;
    long d = 0;
    if (c < r) {
        d = -1;
    } else {
        while (r < c && d <= VisibleRows() && Step(r, 1) == 1)
            ++d;
    }
    const auto [start, end] = RowRange(c);
    const double x = layout_.XOf(start, end, caret_);
    return QRect(kMargin - left_ + static_cast<int>(x), static_cast<int>(d) * rh, 1, rh);
}

std::size_t TextView::HitTest(QPoint point, bool& upstream)
{
    const int rh = layout_.RowHeight();
    RowPos r = top_;
    Step(r, point.y() >= 0 ? point.y() / rh : -1);
    const auto [start, end] = RowRange(r);
    const std::size_t pos = layout_.OffsetAt(start, end, point.x() - kMargin + left_);
    upstream = pos == end && layout_.HasRow(r.para, r.row + 1);
    return pos;
}

// Caret stops and words.

std::size_t TextView::Snap(std::size_t pos) const
{
    pos = std::min(pos, text_.Size());
    const std::size_t p = text_.ParagraphOf(pos);
    const std::size_t end = text_.ParagraphEnd(p);
    if (pos > end)
        return end;
    if (pos == end || pos == text_.ParagraphStart(p))
        return pos;
    const std::size_t unit = text_.UnitStartBefore(pos + 1);
    if (unit == pos)
        return pos;
    // Inside a unit: a stop only between the marks of its bytes.
    const std::string bytes = text_.Read(unit, text_.UnitLength(unit));
    return IsMark(layout_.Codec().Decode(bytes)[0]) ? pos : unit;
}

std::size_t TextView::NextStop(std::size_t pos)
{
    const std::size_t p = text_.ParagraphOf(pos);
    if (pos >= text_.ParagraphEnd(p))
        return p + 1 < text_.Paragraphs() ? text_.ParagraphStart(p + 1) : text_.Size();
    const std::size_t unit = text_.UnitStartBefore(pos + 1);
    const std::size_t length = text_.UnitLength(unit);
    if (unit < pos || length == 1)
        return pos + 1;
    return IsMark(layout_.Codec().Decode(text_.Read(unit, length))[0]) ? pos + 1 : unit + length;
}

std::size_t TextView::PrevStop(std::size_t pos)
{
    const std::size_t p = text_.ParagraphOf(pos);
    if (pos > text_.ParagraphEnd(p))
        return text_.ParagraphEnd(p);
    if (pos == text_.ParagraphStart(p))
        return p > 0 ? text_.ParagraphEnd(p - 1) : 0;
    const std::size_t unit = text_.UnitStartBefore(pos);
    const std::size_t length = text_.UnitLength(unit);
    if (unit + length > pos || length == 1)
        return pos - 1;
    return IsMark(layout_.Codec().Decode(text_.Read(unit, length))[0]) ? pos - 1 : unit;
}

// The run of like characters that holds the cell at pos (a cell, not a paragraph's end).
std::pair<std::size_t, std::size_t> TextView::RunAround(std::size_t pos)
{
    const std::size_t p = text_.ParagraphOf(pos);
    const std::size_t start = text_.ParagraphStart(p), end = text_.ParagraphEnd(p);
    // Its start: look back a little first, further only while the run reaches back past that.
    std::size_t runStart = start;
    CharKind kind = CharKind::None;
    for (std::size_t window = 256;; window *= 8) {
        const std::size_t from = pos - start > window ? text_.SyncBefore(pos - window, start) : start;
        kind = CharKind::None;
        layout_.VisitCells(from, end, [&](const Cell& c) {
            if (c.offset > pos)
                return false;
            if (const CharKind k = KindOf(c); k != kind) {
                runStart = c.offset;
                kind = k;
            }
            return true;
        });
        if (runStart > from || from == start)
            break;
    }
    std::size_t runEnd = end;
    layout_.VisitCells(pos, end, [&](const Cell& c) {
        if (KindOf(c) == kind)
            return true;
        runEnd = c.offset;
        return false;
    });
    return {runStart, runEnd};
}

std::size_t TextView::WordLeft(std::size_t pos)
{
    const std::size_t start = text_.ParagraphStart(text_.ParagraphOf(pos));
    if (pos <= start)
        return PrevStop(pos);
    const std::size_t before = PrevStop(pos);
    std::size_t s = RunAround(before).first;
    // From after blanks, the word before them.
    ShapedRow cell;
    layout_.Shape(before, NextStop(before), cell);
    if (!cell.cells.empty() && KindOf(cell.cells.front()) == CharKind::Blank && s > start)
        s = RunAround(PrevStop(s)).first;
    return s;
}

std::size_t TextView::WordRight(std::size_t pos)
{
    const std::size_t end = text_.ParagraphEnd(text_.ParagraphOf(pos));
    if (pos >= end)
        return NextStop(pos);
    std::size_t e = RunAround(pos).second;
    // A word move lands after the blanks that follow the word.
    if (e < end) {
        ShapedRow cell;
        layout_.Shape(e, NextStop(e), cell);
        if (!cell.cells.empty() && KindOf(cell.cells.front()) == CharKind::Blank) {
            layout_.Shape(pos, NextStop(pos), cell);
            if (!cell.cells.empty() && KindOf(cell.cells.front()) != CharKind::Blank)
                e = RunAround(e).second;
        }
    }
    return e;
}

// Editing.

void TextView::MoveCaret(std::size_t pos, bool extend, bool upstream)
{
    caret_ = pos;
    if (!extend)
        anchor_ = pos;
    upstream_ = upstream;
    goalX_ = -1;
    mergeable_ = false;
    EnsureCaretVisible();
    ResetBlink();
    viewport()->update();
    updateMicroFocus();
}

void TextView::MoveVertically(long rows, bool extend)
{
    RowPos r = RowOf(caret_, upstream_);
    if (goalX_ < 0) {
        const auto [start, end] = RowRange(r);
        goalX_ = layout_.XOf(start, end, caret_);
    }
    const double goal = goalX_;
    const long moved = Step(r, rows);
    if (std::abs(rows) > 1) {
        // A page move scrolls the view by as much as the caret moves.
        RowPos top = top_;
        Step(top, rows < 0 ? -moved : moved);
        SetTop(top);
    }
    const auto [start, end] = RowRange(r);
    const std::size_t pos = layout_.OffsetAt(start, end, goal);
    MoveCaret(pos, extend, pos == end && layout_.HasRow(r.para, r.row + 1));
    goalX_ = goal;
}

void TextView::Apply(std::size_t pos, std::size_t n, std::string bytes, EditKind kind)
{
    std::erase(bytes, '\0');
    if (n == 0 && bytes.empty())
        return;
    if (text_.Size() - n + bytes.size() > TextBuffer::kMaxSize) {
        QApplication::beep();
        return;
    }
    Edit e{pos, text_.Read(pos, n), bytes, anchor_, caret_, kind};
    ReplaceBytes(pos, n, bytes);
    caret_ = anchor_ = Snap(pos + bytes.size());
    upstream_ = false;
    goalX_ = -1;
    redo_.clear();
    Edit* last = mergeable_ && !undo_.empty() && undo_.back().kind == kind ? &undo_.back() : nullptr;
    if (last && kind == EditKind::Typing && n == 0 && last->pos + last->inserted.size() == pos) {
        last->inserted += bytes;
    } else if (last && kind == EditKind::Backspace && pos + n == last->pos) {
        last->removed.insert(0, e.removed);
        last->pos = pos;
    } else if (last && kind == EditKind::Delete && pos == last->pos) {
        last->removed += e.removed;
    } else {
        undo_.push_back(std::move(e));
    }
    mergeable_ = kind != EditKind::Other;
    Changed();
}

void TextView::ReplaceBytes(std::size_t pos, std::size_t n, std::string_view bytes)
{
    // The top row keeps showing the same text.
    std::size_t topOffset = RowRange(top_).first;
    if (topOffset >= pos + n)
        topOffset = topOffset - n + bytes.size();
    else if (topOffset > pos)
        topOffset = pos;
    const TextBuffer::Change change = text_.Replace(pos, n, bytes);
    try {
        layout_.Edited(change, pos, n, bytes.size());
    } catch (...) {
        layout_.Reset();
        throw;
    }
    top_ = RowOf(Snap(topOffset), false);
    modified_ = true;
}

void TextView::DeleteTo(std::size_t other, EditKind kind)
{
    if (caret_ != anchor_)
        Apply(std::min(caret_, anchor_), std::max(caret_, anchor_) - std::min(caret_, anchor_), {}, EditKind::Other);
    else
        Apply(std::min(caret_, other), std::max(caret_, other) - std::min(caret_, other), {}, kind);
}

void TextView::TypeText(const QString& text)
{
    const std::size_t from = std::min(caret_, anchor_), to = std::max(caret_, anchor_);
    Apply(from, to - from, Encode(text), EditKind::Typing);
}

void TextView::Changed()
{
    EnsureCaretVisible();
    StartIdleLayout();
    ResetBlink();
    viewport()->update();
    updateMicroFocus();
    if (onChange_)
        onChange_();
}

void TextView::SetSelection(std::size_t anchor, std::size_t caret)
{
    anchor_ = Snap(anchor);
    MoveCaret(Snap(caret), true);
}

std::string TextView::SelectedBytes() const
{
    const std::size_t from = std::min(caret_, anchor_);
    return text_.Read(from, std::max(caret_, anchor_) - from);
}

void TextView::ReplaceSelection(std::string_view bytes)
{
    const std::size_t from = std::min(caret_, anchor_), to = std::max(caret_, anchor_);
    Apply(from, to - from, std::string(bytes), EditKind::Other);
}

void TextView::SelectAll()
{
    anchor_ = 0;
    MoveCaret(text_.Size(), true);
}

void TextView::Copy()
{
    if (caret_ == anchor_)
        return;
    const std::string bytes = SelectedBytes();
    auto* mime = new QMimeData;
    mime->setText(Decode(bytes));
    // The bytes themselves, so that marks come back as the bytes they stand for.
    mime->setData(kBytesMime, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    QGuiApplication::clipboard()->setMimeData(mime);
}

void TextView::Cut()
{
    Copy();
    DeleteTo(caret_, EditKind::Other);
}

void TextView::Paste()
{
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime)
        return;
    const QString text = mime->text();
    std::string bytes;
    if (mime->hasFormat(kBytesMime)) {
        // Only while they still go with the text: a program of another code page cannot use them.
        const QByteArray raw = mime->data(kBytesMime);
        const std::string_view view(raw.constData(), static_cast<std::size_t>(raw.size()));
        if (SameText(Decode(view), text))
            bytes.assign(view);
    }
    if (bytes.empty())
        bytes = Encode(text);
    if (!bytes.empty())
        ReplaceSelection(bytes);
}

void TextView::Undo()
{
    if (undo_.empty())
        return;
    Edit& e = undo_.back();
    ReplaceBytes(e.pos, e.inserted.size(), e.removed);
    anchor_ = Snap(e.anchorBefore);
    caret_ = Snap(e.caretBefore);
    upstream_ = false;
    goalX_ = -1;
    redo_.push_back(std::move(e));
    undo_.pop_back();
    mergeable_ = false;
    Changed();
}

void TextView::Redo()
{
    if (redo_.empty())
        return;
    Edit& e = redo_.back();
    ReplaceBytes(e.pos, e.removed.size(), e.inserted);
    caret_ = anchor_ = Snap(e.pos + e.inserted.size());
    upstream_ = false;
    goalX_ = -1;
    undo_.push_back(std::move(e));
    redo_.pop_back();
    mergeable_ = false;
    Changed();
}

QString TextView::Decode(std::string_view bytes) const
{
    const std::u16string text = layout_.Codec().Decode(bytes);
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

// Text from outside becomes bytes: any line break a CR LF, characters the code page lacks '?'.
std::string TextView::Encode(const QString& text) const
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    return layout_.Codec().Encode(std::u16string_view(reinterpret_cast<const char16_t*>(t.utf16()),
                                                      static_cast<std::size_t>(t.size())));
}

// Events.

bool TextView::event(QEvent* e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // Editing keys belong to the text area while it has the focus, not to shortcuts elsewhere.
        auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        const bool editing = k == QKeySequence::Copy || k == QKeySequence::Cut || k == QKeySequence::Paste ||
                             k == QKeySequence::Undo || k == QKeySequence::Redo || k == QKeySequence::SelectAll;
        const bool plain = mods == Qt::NoModifier && !k->text().isEmpty() && Printable(k->text());
        const bool ctrlKey = mods == Qt::ControlModifier &&
                             (k->key() == Qt::Key_Y || k->key() == Qt::Key_Insert || k->key() == Qt::Key_Tab ||
                              k->key() == Qt::Key_Left || k->key() == Qt::Key_Right || k->key() == Qt::Key_Home ||
                              k->key() == Qt::Key_End || k->key() == Qt::Key_Backspace || k->key() == Qt::Key_Delete);
        if (editing || plain || ctrlKey) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void TextView::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        Relayout(true);
    else if (e->type() == QEvent::PaletteChange)
        viewport()->update();
}

void TextView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    Relayout();
}

void TextView::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const int key = e->key();
    const std::size_t from = std::min(caret_, anchor_), to = std::max(caret_, anchor_);
    if (e == QKeySequence::Copy || (key == Qt::Key_Insert && mods == Qt::ControlModifier)) {
        Copy();
    } else if (e == QKeySequence::Cut || (key == Qt::Key_Delete && mods == Qt::ShiftModifier)) {
        Cut();
    } else if (e == QKeySequence::Paste || (key == Qt::Key_Insert && mods == Qt::ShiftModifier)) {
        Paste();
    } else if (e == QKeySequence::Undo) {
        Undo();
    } else if (e == QKeySequence::Redo || (key == Qt::Key_Y && mods == Qt::ControlModifier)) {
        Redo();
    } else if (e == QKeySequence::SelectAll) {
        SelectAll();
    } else {
        switch (key) {
        case Qt::Key_Left:
            MoveCaret(ctrl ? WordLeft(caret_) : (from != to && !shift ? from : PrevStop(caret_)), shift);
            break;
        case Qt::Key_Right:
            MoveCaret(ctrl ? WordRight(caret_) : (from != to && !shift ? to : NextStop(caret_)), shift);
            break;
        case Qt::Key_Up:
        case Qt::Key_Down:
            MoveVertically(key == Qt::Key_Up ? -1 : 1, shift);
            break;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            MoveVertically(key == Qt::Key_PageUp ? -VisibleRows() : VisibleRows(), shift);
            break;
        case Qt::Key_Home:
            MoveCaret(ctrl ? 0 : RowRange(RowOf(caret_, upstream_)).first, shift);
            break;
        case Qt::Key_End:
            if (ctrl) {
                MoveCaret(text_.Size(), shift);
            } else {
                const RowPos r = RowOf(caret_, upstream_);
                MoveCaret(RowRange(r).second, shift, layout_.HasRow(r.para, r.row + 1));
            }
            break;
        case Qt::Key_Backspace:
            DeleteTo(ctrl ? WordLeft(caret_) : PrevStop(caret_), EditKind::Backspace);
            break;
        case Qt::Key_Delete:
            DeleteTo(ctrl ? WordRight(caret_) : NextStop(caret_), EditKind::Delete);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            TypeText(QStringLiteral("\n"));
            break;
        case Qt::Key_Tab:
            // Without Ctrl, Tab is the window's focus navigation.
            if (mods == Qt::ControlModifier)
                TypeText(QStringLiteral("\t"));
            else
                e->ignore();
            break;
        default:
            if (!(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) && !e->text().isEmpty() &&
                Printable(e->text()))
                TypeText(e->text());
            else
                e->ignore();
        }
    }
}

void TextView::inputMethodEvent(QInputMethodEvent* e)
{
    if (!e->commitString().isEmpty())
        TypeText(e->commitString());
    preedit_ = e->preeditString();
    preeditCursor_ = static_cast<int>(preedit_.size());
    for (const QInputMethodEvent::Attribute& a : e->attributes())
        if (a.type == QInputMethodEvent::Cursor)
            preeditCursor_ = a.start;
    viewport()->update();
    e->accept();
}

QVariant TextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    auto* self = const_cast<TextView*>(this);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return static_cast<int>(Qt::ImhMultiLine);
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle:
        return self->CaretRect().translated(viewport()->geometry().topLeft());
    case Qt::ImSurroundingText:
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition: {
        // The caret's row stands for the text around it.
        const auto [start, end] = self->RowRange(self->RowOf(caret_, upstream_));
        if (query == Qt::ImSurroundingText)
            return Decode(text_.Read(start, end - start));
        const std::size_t at = query == Qt::ImCursorPosition ? caret_ : std::clamp(anchor_, start, end);
        return static_cast<int>(Decode(text_.Read(start, at - start)).size());
    }
    case Qt::ImCurrentSelection: {
        const std::size_t from = std::min(caret_, anchor_), to = std::max(caret_, anchor_);
        return to - from <= 4096 ? Decode(text_.Read(from, to - from)) : QString();
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void TextView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    bool upstream = false;
    const std::size_t pos = HitTest(e->position().toPoint(), upstream);
    MoveCaret(pos, e->modifiers() & Qt::ShiftModifier, upstream);
    selecting_ = true;
    dragPoint_ = e->position().toPoint();
}

void TextView::mouseMoveEvent(QMouseEvent* e)
{
    if (!selecting_ || !(e->buttons() & Qt::LeftButton))
        return;
    dragPoint_ = e->position().toPoint();
    bool upstream = false;
    const std::size_t pos = HitTest(dragPoint_, upstream);
    MoveCaret(pos, true, upstream);
    if (viewport()->rect().contains(dragPoint_))
        autoScroll_.stop();
    else if (!autoScroll_.isActive())
        autoScroll_.start(50, this);
}

void TextView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        selecting_ = false;
        autoScroll_.stop();
    }
}

void TextView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    bool upstream = false;
    std::size_t pos = HitTest(e->position().toPoint(), upstream);
    const std::size_t p = text_.ParagraphOf(pos);
    if (pos == text_.ParagraphEnd(p)) {
        if (pos == text_.ParagraphStart(p))
            return;
        pos = PrevStop(pos);
    }
    const auto [start, end] = RunAround(pos);
    anchor_ = start;
    MoveCaret(end, true);
}

void TextView::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    showSelection_ = true;
    ResetBlink();
    viewport()->update();
}

void TextView::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    // A menu opened from the window leaves the selection in view.
    if (e->reason() != Qt::PopupFocusReason)
        showSelection_ = false;
    blink_.stop();
    caretOn_ = false;
    selecting_ = false;
    autoScroll_.stop();
    viewport()->update();
}

void TextView::ResetBlink()
{
    caretOn_ = true;
    const int period = QApplication::cursorFlashTime() / 2;
    if (hasFocus() && period > 0)
        blink_.start(period, this);
    else
        blink_.stop();
}

void TextView::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == blink_.timerId()) {
        caretOn_ = !caretOn_;
        viewport()->update();
    } else if (e->timerId() == idle_.timerId()) {
        if (!layout_.LayOutSome(kIdleSlice))
            idle_.stop();
        SyncScrollBars();
    } else if (e->timerId() == autoScroll_.timerId()) {
        RowPos top = top_;
        if (dragPoint_.y() < 0)
            Step(top, -1);
        else if (dragPoint_.y() >= viewport()->height())
            Step(top, 1);
        SetTop(top);
        bool upstream = false;
        const std::size_t pos = HitTest(dragPoint_, upstream);
        MoveCaret(pos, true, upstream);
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

// Painting.

void TextView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    ClampTop();
    const int rh = layout_.RowHeight();
    const int height = viewport()->height();
    const RowPos caretRow = RowOf(caret_, upstream_);
    RowPos r = top_;
    std::size_t lastPara = r.para;
    for (int y = 0; y < height; y += rh) {
        const auto [start, end] = RowRange(r);
        const bool last = !layout_.HasRow(r.para, r.row + 1);
        layout_.Shape(start, end, shaped_, left_ - kMargin - 2 * rh, left_ + viewport()->width());
        DrawRow(painter, shaped_, y, last);
        if (r == caretRow) {
            const double x = kMargin - left_ + layout_.XOf(start, end, caret_);
            if (!preedit_.isEmpty()) {
                // What the input method composes stands at the caret, underlined, until committed.
                const QFontMetricsF metrics(layout_.Font());
                const QRectF box(x, y, metrics.horizontalAdvance(preedit_), rh);
                painter.fillRect(box, palette().color(QPalette::Base));
                painter.setPen(palette().color(QPalette::Text));
                painter.setFont(layout_.Font());
                painter.drawText(QPointF(x, y + layout_.Ascent()), preedit_);
                painter.drawLine(QPointF(box.left(), box.bottom() - 1), QPointF(box.right(), box.bottom() - 1));
                if (hasFocus() && caretOn_)
                    painter.fillRect(QRectF(x + metrics.horizontalAdvance(preedit_.left(preeditCursor_)), y, 1, rh),
                                     palette().color(QPalette::Text));
            } else if (hasFocus() && caretOn_) {
                painter.fillRect(QRectF(std::floor(x), y, 1, rh), palette().color(QPalette::Text));
            }
        }
        lastPara = r.para;
        if (Step(r, 1) == 0)
            break;
    }
    layout_.Trim(top_.para, lastPara, caretRow.para);
    SyncScrollBars();
}

void TextView::DrawRow(QPainter& painter, const ShapedRow& row, int y, bool lastOfParagraph)
{
    const double x0 = kMargin - left_;
    const int rh = layout_.RowHeight();
    const QPalette& pal = palette();
    std::size_t selFrom = std::min(caret_, anchor_), selTo = std::max(caret_, anchor_);
    if (!showSelection_)
        selFrom = selTo = 0;
    const auto selected = [&](const Cell& c) { return c.offset >= selFrom && c.offset < selTo; };

    for (const Cell& c : row.cells)
        if (selected(c))
            painter.fillRect(QRectF(x0 + c.x, y, c.width, rh), pal.color(QPalette::Highlight));
    // A selected line break shows as a little selected space after the paragraph.
    if (lastOfParagraph && row.end < text_.Size() && selFrom <= row.end && selTo > row.end)
        painter.fillRect(QRectF(x0 + row.width, y, layout_.CharWidth(' '), rh), pal.color(QPalette::Highlight));

    // Characters go in runs; marks, tabs and format characters end a run.
    const auto plain = [](const Cell& c) {
        return !c.mark && c.ch != '\t' && QChar::category(c.ch) != QChar::Other_Format;
    };
    painter.setFont(layout_.Font());
    for (std::size_t i = 0; i < row.cells.size();) {
        const Cell& first = row.cells[i];
        if (!plain(first)) {
            ++i;
            continue;
        }
        const bool sel = selected(first);
        std::size_t j = i + 1;
        while (j < row.cells.size() && plain(row.cells[j]) && selected(row.cells[j]) == sel)
            ++j;
        const Cell& lastCell = row.cells[j - 1];
        const QString run = row.text.mid(first.index, lastCell.index + lastCell.units - first.index);
        painter.setPen(pal.color(sel ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QRectF(x0 + first.x, y, lastCell.x + lastCell.width - first.x + rh, rh),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip |
                             Qt::TextForceLeftToRight,
                         run);
        i = j;
    }

    bool markFont = false;
    for (const Cell& c : row.cells) {
        if (!c.mark)
            continue;
        if (!markFont) {
            painter.setFont(layout_.MarkFont());
            markFont = true;
        }
        const QColor ink = pal.color(selected(c) ? QPalette::HighlightedText : QPalette::Text);
        const QRectF box(x0 + c.x + 1.5, y + 2.5, c.width - 3, rh - 5);
        QColor frame = ink;
        frame.setAlphaF(0.5);
        painter.setPen(frame);
        painter.drawRect(box);
        painter.setPen(ink);
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("%1").arg(c.ch, 2, 16, QChar('0')).toUpper());
    }
}

}  // namespace kestrane::qt
