// The Accelerometer through the real loader and real fixture libraries. CTest runs this binary once
// per fixture, with LD_LIBRARY_PATH naming the fixture's folder (or an empty one) and a filter for
// the matching suite: Scripted, NoEntry, Missing.
#include <dlfcn.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "core/Stabiliser.hpp"
#include "layer/Exceptions.hpp"
#include "system/sensor.hpp"

using kestrane::Accelerometer;

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// The scripted fixture, opened by the bare name the Accelerometer uses, so both reach the same copy.
class ScriptedSensor : public testing::Test {
protected:
    void SetUp() override
    {
        library_ = dlopen("Sensor.dll", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        setScript_ = reinterpret_cast<int (*)(const char*)>(dlsym(library_, "KestraneFixtureSetScript"));
        callCount_ = reinterpret_cast<int (*)()>(dlsym(library_, "KestraneFixtureCallCount"));
        ASSERT_TRUE(setScript_ && callCount_) << "not the scripted fixture";
    }
    void TearDown() override
    {
        if (library_)
            dlclose(library_);
    }

    void Script(const std::string& text) { ASSERT_EQ(setScript_(text.c_str()), 1) << text; }
    int Calls() const { return callCount_(); }

private:
    void* library_ = nullptr;
    int (*setScript_)(const char*) = nullptr;
    int (*callCount_)() = nullptr;
};

void ExpectReadings(const Accelerometer& a, int32_t first, int32_t second, const std::string& what)
{
    EXPECT_EQ(a.FirstAxisReading(), first) << what;
    EXPECT_EQ(a.SecondAxisReading(), second) << what;
}

// Marker handlers and an alternate stack of the test's own, so a guard that fails to put back what
// it found shows; the originals (the sanitizers' among them) come back at the end.
void MarkerHandler(int, siginfo_t*, void*) {}

class MarkedSignalState {
public:
    MarkedSignalState()
    {
        stack_t ours{};
        ours.ss_sp = stack_;
        ours.ss_size = sizeof stack_;
        sigaltstack(&ours, &savedStack_);
        struct sigaction sa {};
        sa.sa_sigaction = MarkerHandler;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
            sigaction(kFaultSignals[i], &sa, &saved_[i]);
    }
    ~MarkedSignalState()
    {
        for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
            sigaction(kFaultSignals[i], &saved_[i], nullptr);
        sigaltstack(&savedStack_, nullptr);
    }

    void ExpectIntact(const std::string& what) const
    {
        for (int sig : kFaultSignals) {
            struct sigaction now {};
            sigaction(sig, nullptr, &now);
            EXPECT_EQ(reinterpret_cast<void*>(now.sa_sigaction), reinterpret_cast<void*>(MarkerHandler))
                << what << ": handler of signal " << sig;
            EXPECT_EQ(now.sa_flags & (SA_SIGINFO | SA_ONSTACK), SA_SIGINFO | SA_ONSTACK) << what;
        }
        stack_t now{};
        sigaltstack(nullptr, &now);
        EXPECT_EQ(now.ss_sp, static_cast<const void*>(stack_)) << what << ": alternate stack";
        EXPECT_EQ(now.ss_size, sizeof stack_) << what << ": alternate stack";
        EXPECT_EQ(now.ss_flags, 0) << what << ": alternate stack";
    }

private:
    alignas(16) unsigned char stack_[64 * 1024];
    stack_t savedStack_{};
    struct sigaction saved_[std::size(kFaultSignals)];
};

}  // namespace

TEST_F(ScriptedSensor, CalibratesOnceAndReadsRelativeToIt)
{
    struct Row {
        const char* what;
        const char* script;
        int callsAfterConstruction;
        int32_t first, second;              // after construction
        int32_t updatedFirst, updatedSecond;  // after one more Update
    };
    const Row rows[] = {
        {"second read drifts from the calibration read", "1 1 1000 2000\n1 1 1003 1990\n", 2, 3, -10, 3, -10},
        {"full scale up from 0 is not wrapped", "2 1 0 0\n1 1 65535 65535\n", 2, 0, 0, 65535, 65535},
        {"65535 is not taken as -1", "2 1 65535 65535\n1 1 0 0\n", 2, 0, 0, -65535, -65535},
        {"calibration read returning 0 leaves no offset", "1 0 1000 2000\n1 1 500 700\n", 1, 0, 0, 500, 700},
        {"an update returning 0 still counts", "2 1 0 0\n1 0 10 20\n", 2, 0, 0, 10, 20},
    };
    for (const Row& r : rows) {
        Script(r.script);
        Accelerometer a;
        EXPECT_EQ(Calls(), r.callsAfterConstruction) << r.what;
        ExpectReadings(a, r.first, r.second, r.what);
        EXPECT_TRUE(a.Update()) << r.what;
        ExpectReadings(a, r.updatedFirst, r.updatedSecond, r.what);
    }
}

TEST_F(ScriptedSensor, FailedUpdateKeepsReadingsAndSignalStateAndTheNextOneWorks)
{
    for (const char* action : {"throw", "throw-std", "segv", "fpe", "overflow", "ill"}) {
        Script(std::string("1 1 1000 2000\n1 1 1003 1990\n1 1 1100 2200 ") + action + "\n1 1 1010 2020\n");
        const MarkedSignalState marked;
        Accelerometer a;
        ExpectReadings(a, 3, -10, action);
        marked.ExpectIntact(std::string(action) + ", after construction");
        EXPECT_FALSE(a.Update()) << action;
        ExpectReadings(a, 3, -10, action);
        marked.ExpectIntact(action);
        EXPECT_TRUE(a.Update()) << action;
        ExpectReadings(a, 10, 20, action);
        EXPECT_EQ(Calls(), 4) << action;
    }
}

TEST_F(ScriptedSensor, CalibrationFailureLeavesTheConstructor)
{
    enum Kind { Foreign, Standard, AccessViolation, External };
    const struct {
        const char* action;
        Kind kind;
    } rows[] = {{"throw", Foreign},          {"throw-std", Standard}, {"segv", AccessViolation},
                {"overflow", AccessViolation}, {"fpe", External},       {"ill", External}};
    for (const auto& r : rows) {
        Script(std::string("1 1 1000 2000 ") + r.action + "\n");
        Kind caught;
        std::string message;
        try {
            Accelerometer a;
            ADD_FAILURE() << r.action << ": construction completed";
            continue;
        } catch (const kestrane::EAccessViolation& e) {
            caught = AccessViolation;
            message = e.Message();
        } catch (const kestrane::EExternalException& e) {
            caught = External;
            message = e.Message();
        } catch (const std::runtime_error& e) {
            caught = Standard;
            message = e.what();
        } catch (...) {
            caught = Foreign;
        }
        EXPECT_EQ(caught, r.kind) << r.action << ": " << message;
        if (caught == AccessViolation || caught == External) {
            EXPECT_NE(message.find("'Sensor.dll'"), std::string::npos) << r.action << ": " << message;
        }
        EXPECT_EQ(Calls(), 1) << r.action;
    }
}

// Many faults in a row, half of them stack overflows: each must be recovered from with nothing left
// behind (the sanitizer build reports leaks), and the sensor must still work afterwards.
TEST_F(ScriptedSensor, SurvivesTwentyThousandFaults)
{
    constexpr int kFaults = 20000;
    std::string script = "2 1 1000 2000\n";
    for (int i = 0; i < kFaults; ++i)
        script += i % 2 ? "1 1 0 0 overflow\n" : (i % 4 ? "1 1 0 0 segv\n" : "1 1 0 0 fpe\n");
    script += "1 1 1001 2002\n";
    Script(script);
    Accelerometer a;
    int failed = 0;
    for (int i = 0; i < kFaults; ++i)
        failed += a.Update() ? 0 : 1;
    EXPECT_EQ(failed, kFaults);
    EXPECT_TRUE(a.Update());
    ExpectReadings(a, 1, 2, "after the faults");
}

TEST(ScriptedRelease, DestructorReleasesTheLibrary)
{
    {
        Accelerometer a;
        void* probe = dlopen("Sensor.dll", RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(probe, nullptr);
        if (probe)
            dlclose(probe);
        EXPECT_TRUE(a.Update());
    }
    EXPECT_EQ(dlopen("Sensor.dll", RTLD_NOW | RTLD_NOLOAD), nullptr);
}

namespace {

// Without an entry point to call, the window must never move and nothing may fail.
void ExpectAStillSensor()
{
    Accelerometer a;
    ExpectReadings(a, 0, 0, "after construction");
    EXPECT_FALSE(a.Update());
    EXPECT_FALSE(a.Update());
    ExpectReadings(a, 0, 0, "after updates");
    const kestrane::StabiliserState s = kestrane::StepStabiliser(
        100, 200, a.FirstAxisReading(), a.SecondAxisReading(), 0, 0);
    EXPECT_EQ(s.left, 100);
    EXPECT_EQ(s.top, 200);
}

}  // namespace

TEST(NoEntry, LoadsButNeverUpdates)
{
    void* library = dlopen("Sensor.dll", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << "the no-entry fixture should be found: " << dlerror();
    ASSERT_NE(dlsym(library, "KestraneFixtureWithoutEntry"), nullptr) << "not the no-entry fixture";
    ExpectAStillSensor();
    dlclose(library);
}

TEST(Missing, ConstructsAndNeverUpdates)
{
    ASSERT_EQ(dlopen("Sensor.dll", RTLD_NOW | RTLD_LOCAL), nullptr) << "a Sensor.dll is reachable";
    ExpectAStillSensor();
}
