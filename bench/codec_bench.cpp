#include <benchmark/benchmark.h>

#include <string>

#include "layer/TextCodec.hpp"

using kestrane::os::TextCodec;

namespace {

constexpr std::size_t kDocumentBytes = 20 * 1000 * 1000;

// Lines of the given text, repeated to the document's size.
std::string Document(std::string_view line)
{
    std::string bytes;
    bytes.reserve(kDocumentBytes + line.size() + 2);
    while (bytes.size() < kDocumentBytes) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

const char16_t kJapanese[] = u"窓は加速度に合わせて動き、文字は元のバイトのまま保存されます。ｶﾀｶﾅ 2024 (Kestrane)";

struct Sample {
    const char* charset;
    std::string bytes;
};

const std::string& AsciiLines()
{
    static const std::string bytes = Document("The quick brown fox jumps over the lazy dog; 0123456789, tab\tend.");
    return bytes;
}

const Sample& AsciiCp932()
{
    static const Sample s{"SHIFT_JIS", AsciiLines()};
    return s;
}

const Sample& AsciiUtf8()
{
    static const Sample s{"UTF-8", AsciiLines()};
    return s;
}

const Sample& JapaneseCp932()
{
    static const Sample s{"SHIFT_JIS", Document(TextCodec::ForCharset("SHIFT_JIS")->Encode(kJapanese))};
    return s;
}

const Sample& JapaneseUtf8()
{
    static const Sample s{"UTF-8", Document(TextCodec::ForCharset("UTF-8")->Encode(kJapanese))};
    return s;
}

void Decode(benchmark::State& state, const Sample& (*sample)())
{
    const Sample& s = sample();
    const auto codec = TextCodec::ForCharset(s.charset);
    for (auto _ : state)
        benchmark::DoNotOptimize(codec->Decode(s.bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes.size()));
}

void Encode(benchmark::State& state, const Sample& (*sample)())
{
    const Sample& s = sample();
    const auto codec = TextCodec::ForCharset(s.charset);
    const std::u16string text = codec->Decode(s.bytes);
    for (auto _ : state)
        benchmark::DoNotOptimize(codec->Encode(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes.size()));
}

// Building a codec's tables (through iconv for everything but UTF-8).
void BuildTables(benchmark::State& state, const char* charset)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(TextCodec::ForCharset(charset));
}

}  // namespace

BENCHMARK_CAPTURE(Decode, AsciiLinesCp932, AsciiCp932)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, AsciiLinesCp932, AsciiCp932)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, AsciiLinesUtf8, AsciiUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, AsciiLinesUtf8, AsciiUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, JapaneseCp932, JapaneseCp932)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, JapaneseCp932, JapaneseCp932)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, JapaneseUtf8, JapaneseUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, JapaneseUtf8, JapaneseUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BuildTables, Cp932, "SHIFT_JIS")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BuildTables, Gbk, "GBK")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BuildTables, Latin1, "ISO-8859-1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BuildTables, Utf8, "UTF-8")->Unit(benchmark::kMillisecond);
