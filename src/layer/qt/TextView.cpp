#include "qt/TextView.hpp"

#include <QApplication>
#include <QFocusEvent>
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
        layout_.Widen(x);
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

// Events.

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
            // A blank hanging past the right edge leaves the caret at the edge.
            double x = kMargin - left_ + layout_.XOf(start, end, caret_);
            if (wrap_)
                x = std::min(x, viewport()->width() - 1.0);
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
