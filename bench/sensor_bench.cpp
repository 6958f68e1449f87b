// One stabiliser tick through a loaded sensor library, and one call of the default and simulator
// libraries' entry points. "allocs" counts heap allocations per iteration (the goal is none).
#include <dlfcn.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/Stabiliser.hpp"
#include "simulator/SharedReadings.hpp"
#include "system/sensor.hpp"

// Every allocation in the process, operator new's included, passes through these.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long> g_allocations{0};
}

extern "C" void* malloc(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
extern "C" void free(void* block)
{
    __libc_free(block);
}

namespace fs = std::filesystem;

namespace {

// Runs the timed loop and reports allocations per iteration.
template <typename Body>
void Measure(benchmark::State& state, Body body)
{
    const long before = g_allocations.load();
    for (auto _ : state)
        body();
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
}

class ScriptedFixture {
public:
    explicit ScriptedFixture(const char* script) : handle_(dlopen(KESTRANE_SCRIPTED_FIXTURE, RTLD_NOW | RTLD_LOCAL))
    {
        if (auto set = handle_ ? reinterpret_cast<int (*)(const char*)>(dlsym(handle_, "KestraneFixtureSetScript"))
                               : nullptr)
            set(script);
    }
    ~ScriptedFixture()
    {
        if (handle_)
            dlclose(handle_);
    }
    bool Loaded() const { return handle_ != nullptr; }

private:
    void* handle_;
};

// One timer tick: Update, then the stabiliser step on the readings.
void Tick(benchmark::State& state, const char* script)
{
    const ScriptedFixture fixture(script);
    if (!fixture.Loaded()) {
        state.SkipWithError(dlerror());
        return;
    }
    kestrane::Accelerometer accelerometer;
    kestrane::StabiliserState s{100, 200, 0, 0};
    Measure(state, [&] {
        benchmark::DoNotOptimize(accelerometer.Update());
        s = kestrane::StepStabiliser(s.left, s.top, accelerometer.FirstAxisReading(),
                                     accelerometer.SecondAxisReading(), s.appliedHorizontal, s.appliedVertical);
        benchmark::DoNotOptimize(s);
    });
}

void BM_Tick(benchmark::State& state)
{
    Tick(state, "1 1 32768 32768\n1 1 33768 31768\n");
}

// The price of a fault recovered from: the guard, the signal, the jump back and the exception.
void BM_TickWithAFaultingLibrary(benchmark::State& state)
{
    Tick(state, "2 1 32768 32768\n1 1 0 0 segv\n");
}

struct TempFolder {
    fs::path path;
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "kestrane-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

void CallEntryPoint(benchmark::State& state, const char* library, void (*prepare)(void* handle, const fs::path& folder))
{
    const TempFolder folder;
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    auto entry = handle ? reinterpret_cast<int32_t (*)(void*)>(dlsym(handle, "ShockproofGetAccelerometerData"))
                        : nullptr;
    if (!entry) {
        state.SkipWithError(dlerror());
        return;
    }
    prepare(handle, folder.path);
    unsigned char record[20] = {};
    entry(record);  // the first call starts the library's work
    Measure(state, [&] { benchmark::DoNotOptimize(entry(record)); });
    dlclose(handle);
}

void BM_IioEntryPoint(benchmark::State& state)
{
    CallEntryPoint(state, KESTRANE_IIO_LIBRARY, [](void* handle, const fs::path& root) {
        fs::create_directories(root / "iio:device0");
        std::ofstream(root / "iio:device0/in_accel_x_raw") << "12\n";
        std::ofstream(root / "iio:device0/in_accel_y_raw") << "-980\n";
        std::ofstream(root / "iio:device0/in_accel_scale") << "0.009806650\n";
        reinterpret_cast<void (*)(const char*)>(dlsym(handle, "KestraneIioSetRoot"))(root.c_str());
    });
}

void BM_SimulatorEntryPoint(benchmark::State& state)
{
    CallEntryPoint(state, KESTRANE_SIMULATOR_LIBRARY, [](void*, const fs::path& folder) {
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
        kestrane::simulator::SharedFile pad;
        if (pad.OpenForWriting((folder / "kestrane-sensor").c_str()))
            pad.Store({33000, 32000});
    });
}

}  // namespace

BENCHMARK(BM_Tick);
BENCHMARK(BM_TickWithAFaultingLibrary);
BENCHMARK(BM_IioEntryPoint);
BENCHMARK(BM_SimulatorEntryPoint);

BENCHMARK_MAIN();
