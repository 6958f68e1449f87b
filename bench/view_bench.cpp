// The text view at 800 x 600 with wrapping on, code page CP932: a document set and painted for the
// first time, the background layout of all of it, one keystroke (typed and painted) in the middle
// of a long line, and the memory a large document takes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "qt/TextView.hpp"

using kestrane::qt::TextView;

namespace {

enum class Doc { Lines, LineOfWords, LineNoSpaces, JapaneseLines };

const std::string kJapanese = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67\x81\x41\x8A\xBF"
                              "\x8E\x9A\x82\xC6\x82\xA9\x82\xC8\x82\xCC\x8D\xAC\x82\xB6\x82\xC1\x82\xBD\x95\xB6\x81\x42";

std::string Make(Doc kind, std::size_t size)
{
    std::string unit;
    switch (kind) {
    case Doc::Lines:
        unit = "The quick brown fox jumps over the lazy dog, again and again and again, x.\r\n";
        unit.insert(unit.size() - 2, 80 - unit.size(), 'x');
        break;
    case Doc::LineOfWords:
        unit = "words of a single long line ";
        break;
    case Doc::LineNoSpaces:
        unit = "abcdefghijklmnopqrstuvwxyz0123456789";
        break;
    case Doc::JapaneseLines:
        unit = kJapanese + kJapanese.substr(0, 36) + "\r\n";
        break;
    }
    std::string text;
    text.reserve(size + unit.size());
    while (text.size() < size)
        text += unit;
    text.resize(size);
    return text;
}

std::unique_ptr<TextView> NewView()
{
    auto view = std::make_unique<TextView>();
    view->SetCharset("SHIFT_JIS");
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(24);
    view->SetFont(font);
    view->resize(800, 600);
    return view;
}

double ResidentMB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// SetBytes and the first paint: what stands between Open and seeing the text.
void Open(benchmark::State& state, Doc kind, std::size_t size)
{
    const std::string text = Make(kind, size);
    auto view = NewView();
    for (auto _ : state) {
        view->SetBytes(text);
        view->viewport()->grab();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(Open, lines_20MB, Doc::Lines, 20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, japanese_lines_20MB, Doc::JapaneseLines, 20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, line_of_words_5MB, Doc::LineOfWords, 5 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, line_without_spaces_5MB, Doc::LineNoSpaces, 5 << 20)->Unit(benchmark::kMillisecond);

// The background layout of every row, so that the scroll bar is exact.
void LayoutAll(benchmark::State& state, Doc kind, std::size_t size)
{
    const std::string text = Make(kind, size);
    auto view = NewView();
    for (auto _ : state) {
        state.PauseTiming();
        view->SetBytes(text);
        view->viewport()->grab();
        state.ResumeTiming();
        view->LayoutAll();
    }
    state.counters["rows"] = static_cast<double>(view->RowCount());
}
BENCHMARK_CAPTURE(LayoutAll, lines_20MB, Doc::Lines, 20 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LayoutAll, japanese_lines_20MB, Doc::JapaneseLines, 20 << 20)->Unit(benchmark::kMillisecond);

// One key typed in the middle of the document and the repaint after it; the next iteration takes
// it back with Backspace, so the document stays the same size.
void Keystroke(benchmark::State& state, Doc kind, std::size_t size, int keyCode, const char* text)
{
    auto view = NewView();
    view->SetBytes(Make(kind, size));
    view->LayoutAll();
    view->SetSelection(size / 2, size / 2);
    view->viewport()->grab();
    bool type = true;
    for (auto _ : state) {
        QKeyEvent key(QEvent::KeyPress, type ? keyCode : Qt::Key_Backspace, Qt::NoModifier,
                      type ? QString::fromLatin1(text) : QString());
        QApplication::sendEvent(view.get(), &key);
        view->viewport()->grab();
        type = !type;
    }
}
BENCHMARK_CAPTURE(Keystroke, line_of_words_5MB, Doc::LineOfWords, 5 << 20, Qt::Key_X, "x")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystroke, line_without_spaces_5MB, Doc::LineNoSpaces, 5 << 20, Qt::Key_X, "x")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Keystroke, lines_50MB, Doc::Lines, 50 << 20, Qt::Key_X, "x")->Unit(benchmark::kMillisecond);
// Enter and Backspace change the number of paragraphs.
BENCHMARK_CAPTURE(Keystroke, enter_lines_50MB, Doc::Lines, 50 << 20, Qt::Key_Return, "\r")
    ->Unit(benchmark::kMillisecond);

// What a 50 MB document costs in memory once set, painted and laid out: the process's resident
// growth, less the caller's copy of the bytes, which is freed. Memory freed by earlier benchmarks
// may be used again, so run it alone (--benchmark_filter=Memory) for a true figure.
void Memory(benchmark::State& state, Doc kind)
{
    const std::size_t size = 50 << 20;
    for (auto _ : state) {
        std::string text = Make(kind, size);
        auto view = NewView();
        const double before = ResidentMB();
        view->SetBytes(text);
        std::string().swap(text);
        view->viewport()->grab();
        view->LayoutAll();
        state.counters["document_MB"] = static_cast<double>(size) / (1 << 20);
        state.counters["view_MB"] = ResidentMB() - before + static_cast<double>(size) / (1 << 20);
    }
}
BENCHMARK_CAPTURE(Memory, lines_50MB, Doc::Lines)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Memory, line_of_words_50MB, Doc::LineOfWords)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
