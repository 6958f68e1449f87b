// Line-break normalisation against memcpy, and Open's and Save's file work, on 20 MB documents.
// peak_rss_MB is the process's high-water mark so far: run one benchmark per process
// (--benchmark_filter) to read it for that benchmark alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/CodePage.hpp"
#include "core/LineBreaks.hpp"
#include "layer/DocumentFile.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t DocumentSize = 20 << 20;

enum Text { Ascii, Utf8Japanese, Cp932Japanese };

// Lines of 80 bytes, break included, until `size` bytes.
std::string MakeText(Text kind, const char* lineBreak, std::size_t size)
{
    const std::string ascii = "The quick brown fox jumps over the lazy dog, again and again. ";
    const std::string utf8 = "日本語のテキスト、漢字とかなの混じった文。";
    const std::string cp932 = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67\x81\x41\x8A\xBF"
                              "\x8E\x9A\x82\xC6\x82\xA9\x82\xC8\x82\xCC\x8D\xAC\x82\xB6\x82\xC1\x82\xBD\x95\xB6\x81\x42";
    const std::string& words = kind == Ascii ? ascii : kind == Utf8Japanese ? utf8 : cp932;
    const std::size_t body = 80 - std::strlen(lineBreak);
    std::string line;
    while (line.size() + words.size() <= body)
        line += words;
    line.append(body - line.size(), 'x');
    line += lineBreak;
    std::string text;
    text.reserve(size + line.size());
    while (text.size() < size)
        text += line;
    text.resize(size);
    return text;
}

void ReportPeakMemory(benchmark::State& state)
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void Normalise(benchmark::State& state, Text kind, const char* lineBreak, const char* charset)
{
    const std::string text = MakeText(kind, lineBreak, DocumentSize);
    const LeadByteTable codePage = LeadByteTable::ForCharset(charset);
    for (auto _ : state)
        benchmark::DoNotOptimize(NormaliseLineBreaks(text, codePage));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    ReportPeakMemory(state);
}
BENCHMARK_CAPTURE(Normalise, ascii_lf_utf8, Ascii, "\n", "UTF-8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Normalise, ascii_crlf_utf8, Ascii, "\r\n", "UTF-8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Normalise, japanese_lf_utf8, Utf8Japanese, "\n", "UTF-8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Normalise, japanese_crlf_utf8, Utf8Japanese, "\r\n", "UTF-8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Normalise, japanese_lf_cp932, Cp932Japanese, "\n", "SHIFT_JIS")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Normalise, japanese_crlf_cp932, Cp932Japanese, "\r\n", "SHIFT_JIS")->Unit(benchmark::kMillisecond);

// The floor: copying the same bytes into a new string.
void Memcpy(benchmark::State& state)
{
    const std::string text = MakeText(Ascii, "\n", DocumentSize);
    for (auto _ : state) {
        std::string copy(text.size(), '\0');
        std::memcpy(copy.data(), text.data(), text.size());
        benchmark::DoNotOptimize(copy);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    ReportPeakMemory(state);
}
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond);

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "kestrane-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
    }
    ~TempFolder() { fs::remove_all(path_); }
    std::string operator/(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Open's file work: one read of the whole file, then normalisation (the page cache is warm).
void OpenFile(benchmark::State& state, const char* lineBreak, std::size_t size)
{
    TempFolder folder;
    const std::string path = folder / "doc";
    const std::string text = lineBreak[0] ? MakeText(Ascii, lineBreak, size) : std::string(size, 'w');
    std::ofstream(path, std::ios::binary) << text;
    const LeadByteTable& codePage = LeadByteTable::ForCharset("SHIFT_JIS");
    for (auto _ : state) {
        os::DocumentReader reader(path);
        benchmark::DoNotOptimize(NormaliseLineBreaks(reader.ReadAll(), codePage));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    ReportPeakMemory(state);
}
BENCHMARK_CAPTURE(OpenFile, lines_lf_20MB, "\n", DocumentSize)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenFile, no_breaks_5MB, "", std::size_t{5} << 20)->Unit(benchmark::kMillisecond);

// Save's file work, with the file and its folder flushed to disk.
void SaveFile(benchmark::State& state)
{
    TempFolder folder;
    const std::string path = folder / "doc";
    const std::string text = MakeText(Ascii, "\r\n", DocumentSize);
    for (auto _ : state) {
        os::DocumentWriter writer(path);
        writer.Write(text);
        writer.Commit();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    ReportPeakMemory(state);
}
BENCHMARK(SaveFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
