// The text view's editing: caret stops and words, edits and their undoing, the clipboard, keys,
// the input method and the mouse.
#include "qt/TextView.hpp"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>

namespace kestrane::qt {

namespace {

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

// Keys, the input method and the mouse.

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

}  // namespace kestrane::qt
