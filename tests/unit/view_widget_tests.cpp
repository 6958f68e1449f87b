#include <gtest/gtest.h>

#include "TestHex.hpp"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/TextBuffer.hpp"
#include "qt/TextView.hpp"
#include "qt/TextViewLayout.hpp"

using kestrane::CharUnits;
using kestrane::TextBuffer;
using kestrane::os::TextCodec;
using kestrane::qt::ShapedRow;
using kestrane::qt::TextLayout;
using kestrane::qt::TextView;

namespace {

const char* const kCharsets[] = {"SHIFT_JIS", "UTF-8", "ISO-8859-1"};

QFont TestFont()
{
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(16);
    return font;
}

std::unique_ptr<TextView> View(const char* charset, std::string_view bytes, int width = 400, int height = 200)
{
    auto view = std::make_unique<TextView>();
    view->SetCharset(charset);
    view->SetFont(TestFont());
    view->resize(width, height);
    view->SetBytes(bytes);
    return view;
}

void Key(TextView& view, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(&view, &release);
}

void Type(TextView& view, const QString& text) { Key(view, 0, Qt::NoModifier, text); }

// Random bytes, dense in CR, LF, lead bytes and UTF-8 sequences whole and cut.
std::string RandomBytes(std::mt19937& rng, std::size_t n)
{
    static const std::string pieces[] = {"\r",   "\n",   "\r\n", "a",  " ",    "\x82\xA0", "\x81\r", "\xE0", "\x80",
                                         "\xE3\x81\x82", "\xE3\x81", "\xC3\xA9", "\xF0\x9F\x98\x80", "\t", "word ",
                                         "\x82", "\x7F"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::string out;
    while (out.size() < n)
        out += pieces[pick(rng)];
    return out;
}

// A paragraph's rows: together its decoded text, each within the width unless it holds a single
// unit or ends in a blank.
void CheckRows(TextLayout& layout, const TextBuffer& text, std::size_t p, double width, const std::string& where)
{
    const std::vector<std::uint32_t> rows = layout.Rows(p);
    const std::size_t start = text.ParagraphStart(p), end = text.ParagraphEnd(p);
    QString joined;
    ShapedRow row;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t s = start + rows[k], e = k + 1 < rows.size() ? start + rows[k + 1] : end;
        ASSERT_LT(s, std::max(e, s + (rows.size() == 1))) << where << ": empty row " << k;
        layout.Shape(s, e, row);
        joined += row.text;
        const bool single = row.cells.size() == 1 || std::count_if(row.cells.begin(), row.cells.end(), [](auto& c) {
                                                         return c.unitStart;
                                                     }) == 1;
        const bool blankEnd = !row.cells.empty() && (row.cells.back().ch == ' ' || row.cells.back().ch == '\t');
        ASSERT_TRUE(row.width <= width || single || blankEnd) << where << ": row " << k << " too wide";
    }
    const std::u16string decoded = layout.Codec().Decode(text.Read(start, end - start));
    ASSERT_EQ(joined, QString::fromStdU16String(decoded)) << where;
}

}  // namespace

// Every paragraph is shown as the codec decodes it, broken into rows that fit.
TEST(TextLayout, RowsShowTheDecodedParagraph)
{
    std::mt19937 rng(1);
    for (const char* charset : kCharsets) {
        const auto codec = TextCodec::ForCharset(charset);
        TextBuffer text(CharUnits::ForCharset(charset));
        TextLayout layout(text);
        layout.SetCodec(*codec);
        layout.SetFont(TestFont());
        layout.SetWrap(true, 120);
        text.Assign(RandomBytes(rng, 3000));
        layout.Reset();
        for (std::size_t p = 0; p < text.Paragraphs(); ++p)
            CheckRows(layout, text, p, 120, std::string(charset) + " paragraph " + std::to_string(p));
    }
}

// Rows kept up to date after edits, wholly or partly laid out, are the rows laid out afresh.
TEST(TextLayout, EditedRowsEqualFreshRows)
{
    std::mt19937 rng(2);
    const auto codec = TextCodec::ForCharset("SHIFT_JIS");
    const std::string pieces[] = {"word ", "x", " ", "\x82\xA0", "\x93\xFA\x96\x7B", "\t", "\x82", "\xA0", "\r\n"};
    TextBuffer text(CharUnits::ForCharset("SHIFT_JIS"));
    TextLayout layout(text);
    layout.SetCodec(*codec);
    layout.SetFont(TestFont());
    layout.SetWrap(true, 150);
    std::string bytes;
    while (bytes.size() < 60000)
        bytes += pieces[rng() % 6];
    text.Assign(bytes);
    layout.Reset();
    for (int round = 0; round < 300; ++round) {
        // Rows laid out to the end, part of the way, or not at all.
        if (rng() % 2 == 0)
            layout.Reset();
        for (std::size_t p = 0; p < text.Paragraphs(); ++p) {
            if (rng() % 3 == 0)
                layout.Rows(p);
            else if (rng() % 2 == 0)
                layout.HasRow(p, rng() % 20);
        }
        const std::size_t pos = std::uniform_int_distribution<std::size_t>(0, text.Size())(rng);
        const std::size_t n = std::min<std::size_t>(text.Size() - pos, rng() % 4);
        const std::string& piece = pieces[rng() % std::size(pieces)];
        const TextBuffer::Change change = text.Replace(pos, n, piece);
        layout.Edited(change, pos, n, piece.size());

        TextLayout fresh(text);
        fresh.SetCodec(*codec);
        fresh.SetFont(TestFont());
        fresh.SetWrap(true, 150);
        for (std::size_t p = change.first; p < change.first + change.inserted; ++p)
            ASSERT_EQ(layout.Rows(p), fresh.Rows(p)) << "round " << round << ", paragraph " << p;
    }
    CheckRows(layout, text, 0, 150, "after the edits");
}

// Typed text is encoded in the code page; what it lacks becomes '?'. Enter gives CR LF, Ctrl+Tab
// a tab; Tab alone enters nothing.
TEST(TextView, TypingEncodesInTheCodePage)
{
    struct Case {
        const char* charset;
        QString typed;
        std::string bytes;
    } cases[] = {
        {"SHIFT_JIS", QStringLiteral("aあ€ｶ"), "a\x82\xA0?\xB6"},
        {"UTF-8", QStringLiteral("é😀"), "\xC3\xA9\xF0\x9F\x98\x80"},
        {"ISO-8859-1", QStringLiteral("éあ"), "\xE9?"},
    };
    for (const Case& c : cases) {
        auto view = View(c.charset, "");
        // One event a character; one outside the BMP comes with both its halves.
        for (qsizetype i = 0; i < c.typed.size(); ++i) {
            const qsizetype n = c.typed[i].isHighSurrogate() ? 2 : 1;
            Type(*view, c.typed.mid(i, n));
            i += n - 1;
        }
        EXPECT_EQ(Hex(view->Bytes()), Hex(c.bytes)) << c.charset;
        EXPECT_TRUE(view->Modified());
    }
    auto view = View("SHIFT_JIS", "");
    Type(*view, QStringLiteral("a"));
    Key(*view, Qt::Key_Return);
    Key(*view, Qt::Key_Tab, Qt::ControlModifier);
    Key(*view, Qt::Key_Tab);
    Key(*view, Qt::Key_F, Qt::AltModifier, QStringLiteral("f"));
    Key(*view, Qt::Key_B, Qt::ControlModifier, QStringLiteral("\x02"));
    EXPECT_EQ(view->Bytes(), "a\r\n\t");
    EXPECT_EQ(view->Caret(), 4u);
}

// Backspace and Delete take a whole character, a line break as one, and a mark a byte at a time.
TEST(TextView, DeletesWholeCharacters)
{
    struct Case {
        const char* name;
        const char* charset;
        std::string bytes;
        std::size_t caret;
        int key;
        std::string after;
        std::size_t caretAfter;
    } cases[] = {
        {"two-byte character", "SHIFT_JIS", "a\x82\xA0" "b", 3, Qt::Key_Backspace, "ab", 1},
        {"two-byte character forward", "SHIFT_JIS", "\x82\xA0x", 0, Qt::Key_Delete, "x", 0},
        {"over CR LF", "SHIFT_JIS", "a\r\nb", 3, Qt::Key_Backspace, "ab", 1},
        {"CR LF forward", "SHIFT_JIS", "a\r\nb", 1, Qt::Key_Delete, "ab", 1},
        {"a lead byte at the end", "SHIFT_JIS", "ab\x82", 3, Qt::Key_Backspace, "ab", 2},
        {"a lead byte whose second byte is CR", "SHIFT_JIS", "\x82\r\n", 3, Qt::Key_Backspace, "\x82\r", 2},
        // The lead byte left meets the next byte and makes a character with it.
        {"a mark of an undecodable pair", "SHIFT_JIS", "\x82\x20" "b", 2, Qt::Key_Backspace, "\x82" "b", 0},
        {"a UTF-8 sequence", "UTF-8", "a\xE3\x81\x82" "b", 4, Qt::Key_Backspace, "ab", 1},
        {"a cut UTF-8 sequence", "UTF-8", "\xE3\x81", 2, Qt::Key_Backspace, "\xE3", 1},
        {"a lone CR", "ISO-8859-1", "a\rb", 2, Qt::Key_Backspace, "ab", 1},
        {"Latin-1 forward", "ISO-8859-1", "\xE9\r\n", 0, Qt::Key_Delete, "\r\n", 0},
        {"nothing after the end", "SHIFT_JIS", "ab", 2, Qt::Key_Delete, "ab", 2},
        {"nothing before the start", "SHIFT_JIS", "ab", 0, Qt::Key_Backspace, "ab", 0},
    };
    for (const Case& c : cases) {
        auto view = View(c.charset, c.bytes);
        view->SetSelection(c.caret, c.caret);
        Key(*view, c.key);
        EXPECT_EQ(Hex(view->Bytes()), Hex(c.after)) << c.name;
        EXPECT_EQ(view->Caret(), c.caretAfter) << c.name;
    }
}

// The caret stops between characters and between the bytes of marks, never inside a character
// or a CR LF; Left retraces Right's stops.
TEST(TextView, CaretStops)
{
    struct Case {
        const char* charset;
        std::string bytes;
        std::vector<std::size_t> stops;
    } cases[] = {
        {"SHIFT_JIS", "a\x82\xA0\r\nb", {0, 1, 3, 5, 6}},
        {"SHIFT_JIS", "\x82\x20\x80", {0, 1, 2, 3}},
        {"UTF-8", "\xF0\x9F\x98\x80\xE3\x81\r\n", {0, 4, 5, 6, 8}},
        {"ISO-8859-1", "\r\r\n\n", {0, 1, 3, 4}},
    };
    for (const Case& c : cases) {
        auto view = View(c.charset, c.bytes);
        std::vector<std::size_t> right{view->Caret()};
        for (std::size_t k = 1; k < c.stops.size(); ++k) {
            Key(*view, Qt::Key_Right);
            right.push_back(view->Caret());
        }
        EXPECT_EQ(right, c.stops) << Hex(c.bytes);
        Key(*view, Qt::Key_Right);
        EXPECT_EQ(view->Caret(), c.stops.back()) << "Right stays at the end";
        std::vector<std::size_t> left{view->Caret()};
        for (std::size_t k = 1; k < c.stops.size(); ++k) {
            Key(*view, Qt::Key_Left);
            left.insert(left.begin(), view->Caret());
        }
        EXPECT_EQ(left, c.stops) << Hex(c.bytes);
        // A position inside a character or a line break is taken back to a stop.
        for (std::size_t pos = 0; pos <= c.bytes.size(); ++pos) {
            view->SetSelection(pos, pos);
            EXPECT_TRUE(std::count(c.stops.begin(), c.stops.end(), view->Caret())) << Hex(c.bytes) << " at " << pos;
        }
    }
}

// Undo and redo give back the exact bytes of each step; typing in a row is one step.
TEST(TextView, UndoAndRedoRestoreTheBytes)
{
    const std::string start = "\x82\xA0 mark \x80 here\r\nsecond \xFF line";
    auto view = View("SHIFT_JIS", start);
    std::vector<std::string> states{start};
    const auto step = [&](auto&& action) {
        action();
        states.push_back(view->Bytes());
    };
    step([&] {
        view->SetSelection(3, 3);
        for (const char* s : {"a", "b", "c"})
            Type(*view, QString::fromLatin1(s));
    });
    step([&] {
        view->SetSelection(view->Caret(), view->Caret());  // a caret move ends the typing step
        Key(*view, Qt::Key_Return);
    });
    step([&] {
        view->SetSelection(9, 14);
        Type(*view, QStringLiteral("字"));
    });
    step([&] {
        Key(*view, Qt::Key_Backspace);
        Key(*view, Qt::Key_Backspace);
    });
    step([&] {
        view->SetSelection(view->Size() - 3, view->Size());
        Key(*view, Qt::Key_Delete);
    });
    step([&] {
        view->SetSelection(0, 0);
        view->ReplaceSelection("\x81\r\x82");
    });
    EXPECT_EQ(states.size(), 7u);
    for (std::size_t k = states.size() - 1; k > 0; --k) {
        view->Undo();
        ASSERT_EQ(Hex(view->Bytes()), Hex(states[k - 1])) << "undo to step " << k - 1;
    }
    view->Undo();
    EXPECT_EQ(view->Bytes(), start);
    for (std::size_t k = 1; k < states.size(); ++k) {
        Key(*view, Qt::Key_Y, Qt::ControlModifier);
        ASSERT_EQ(Hex(view->Bytes()), Hex(states[k])) << "redo to step " << k;
    }
    Key(*view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->Bytes(), states[states.size() - 2]);
    Key(*view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->Bytes(), states.back());
}

// Copy and paste inside the program keep every byte, marks included; text from elsewhere is
// encoded, its line breaks made CR LF.
TEST(TextView, ClipboardKeepsMarks)
{
    const std::string bytes = "\x82\xA0\x80\x82\x20\r\x81\r\n\xFF\x7F end";
    for (const auto& [cut, copyKey] : {std::pair{false, Qt::Key_C}, std::pair{true, Qt::Key_X}}) {
        auto view = View("SHIFT_JIS", bytes);
        view->SetSelection(0, view->Size());
        Key(*view, copyKey, Qt::ControlModifier);
        EXPECT_EQ(view->Bytes(), cut ? "" : bytes);
        view->SetSelection(view->Size(), view->Size());
        Key(*view, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(Hex(view->Bytes()), Hex(cut ? bytes : bytes + bytes));
    }

    auto view = View("SHIFT_JIS", "");
    auto* outside = new QMimeData;
    outside->setText(QStringLiteral("a\r\nb\nc\rあ€"));
    QGuiApplication::clipboard()->setMimeData(outside);
    Key(*view, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Hex(view->Bytes()), Hex("a\r\nb\r\nc\r\n\x82\xA0?"));

    // Bytes that do not go with the text beside them are not used.
    auto* stale = new QMimeData;
    stale->setText(QStringLiteral("xyz"));
    stale->setData(TextView::kBytesMime, "abc");
    QGuiApplication::clipboard()->setMimeData(stale);
    view->SetBytes("");
    view->Paste();
    EXPECT_EQ(view->Bytes(), "xyz");
}

// Rows, words and the document's ends by key, Shift extending the selection.
TEST(TextView, NavigationKeys)
{
    // Narrow enough to wrap the first paragraph.
    std::string words;
    for (int i = 0; i < 40; ++i)
        words += "word" + std::to_string(i) + " ";
    auto view = View("SHIFT_JIS", words + "\r\nlast", 200);
    view->LayoutAll();
    const std::vector<std::size_t> rows = view->RowStarts(0);
    ASSERT_GT(rows.size(), 3u);
    for (std::size_t k = 1; k < rows.size(); ++k)
        EXPECT_EQ(words[rows[k] - 1], ' ') << "row " << k << " begins a word";

    view->SetSelection(rows[1] + 2, rows[1] + 2);
    Key(*view, Qt::Key_End);
    EXPECT_EQ(view->Caret(), rows[2]);
    Key(*view, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(view->Caret(), rows[1]);
    EXPECT_EQ(view->Anchor(), rows[2]);
    Key(*view, Qt::Key_Down);
    EXPECT_EQ(view->Caret(), rows[2]);
    Key(*view, Qt::Key_Up);
    Key(*view, Qt::Key_Up);
    EXPECT_EQ(view->Caret(), rows[0]);

    Key(*view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view->Caret(), view->Size());
    Key(*view, Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->Caret(), 0u);
    EXPECT_EQ(view->Anchor(), view->Size());
    Key(*view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->SelectedBytes(), view->Bytes());

    auto line = View("SHIFT_JIS", "foo bar,  baz\x82\xA0\x82\xA2\x83\x41\r\nx");
    std::vector<std::size_t> stops;
    for (int i = 0; i < 7; ++i) {
        Key(*line, Qt::Key_Right, Qt::ControlModifier);
        stops.push_back(line->Caret());
    }
    EXPECT_EQ(stops, (std::vector<std::size_t>{4, 7, 10, 13, 17, 19, 21}));
    for (int i = 6; i > 0; --i) {
        Key(*line, Qt::Key_Left, Qt::ControlModifier);
        EXPECT_EQ(line->Caret(), stops[i - 1]) << "back from stop " << i;
    }
}

// A click places the caret, Shift+click and a drag select from it, a double-click selects a word.
TEST(TextView, MouseSelects)
{
    auto view = View("SHIFT_JIS", "alpha beta gamma\r\nsecond line");
    QWidget* viewport = view->viewport();
    const QFontMetricsF metrics(TestFont());
    // Where the caret stands at the start is where the text begins.
    const QPoint origin = viewport->mapFrom(
        view.get(), static_cast<QWidget*>(view.get())->inputMethodQuery(Qt::ImCursorRectangle).toRect().topLeft());
    const auto at = [&](const char* before, int row = 0) {
        return origin + QPoint(static_cast<int>(metrics.horizontalAdvance(QString::fromLatin1(before))) + 1,
                               static_cast<int>((row + 0.5) * std::ceil(metrics.lineSpacing())));
    };
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at("alp"));
    EXPECT_EQ(view->Caret(), 3u);
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, at("second line and beyond", 1));
    EXPECT_EQ(view->Anchor(), 3u);
    EXPECT_EQ(view->Caret(), view->Size());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at("alpha be"));
    EXPECT_EQ(view->SelectedBytes(), "beta");
    QTest::mousePress(viewport, Qt::LeftButton, {}, at("alpha"));
    QTest::mouseMove(viewport, at("alpha beta g"));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at("alpha beta g"));
    EXPECT_EQ(view->SelectedBytes(), " beta g");
}

// A commit from the input method is typed text; what it is still composing is not in the text.
TEST(TextView, InputMethodCommits)
{
    auto view = View("SHIFT_JIS", "ab");
    view->SetSelection(1, 1);
    QInputMethodEvent compose(QStringLiteral("にほん"), {});
    QApplication::sendEvent(view.get(), &compose);
    EXPECT_EQ(view->Bytes(), "ab");
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本"));
    QApplication::sendEvent(view.get(), &commit);
    EXPECT_EQ(Hex(view->Bytes()), Hex("a\x93\xFA\x96\x7B" "b"));
    EXPECT_EQ(view->Caret(), 5u);
    EXPECT_TRUE(static_cast<QWidget*>(view.get())->inputMethodQuery(Qt::ImCursorRectangle).toRect().isValid());
}

// A long document: the end is reachable by key and by the scroll bar, and edits there land.
TEST(TextView, LargeDocument)
{
    std::string bytes;
    for (int i = 0; bytes.size() < 2'000'000; ++i)
        bytes += "line " + std::to_string(i) + " of a document that wraps in a narrow view\r\n";
    auto view = View("SHIFT_JIS", bytes, 300, 200);
    view->grab();
    QScrollBar* bar = view->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 1000);
    Key(*view, Qt::Key_End, Qt::ControlModifier);
    view->grab();
    EXPECT_EQ(bar->value(), bar->maximum());
    Type(*view, QStringLiteral("!"));
    EXPECT_EQ(view->Bytes(), bytes + "!");
    Key(*view, Qt::Key_PageUp);
    EXPECT_LT(view->Caret(), bytes.size() - 100);
    const int before = bar->value();
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_LT(bar->value(), before);
    bar->setValue(bar->maximum() / 2);
    view->grab();
    view->LayoutAll();
    EXPECT_EQ(bar->maximum(), static_cast<int>(view->RowCount()) - bar->pageStep());
}

// The selection shows only while the view has the focus.
TEST(TextView, HidesSelectionWithoutFocus)
{
    auto view = View("SHIFT_JIS", "selected \x82\xA0\x80 text");
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    view->setFocus();
    view->SelectAll();
    const QColor highlight = view->palette().color(QPalette::Active, QPalette::Highlight);
    const auto highlighted = [&] {
        const QImage image = view->viewport()->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y) == highlight;
        return count;
    };
    EXPECT_GT(highlighted(), 100);
    view->clearFocus();
    EXPECT_EQ(highlighted(), 0);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // No display needed, not even to list the tests.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
