// The scripted fixture as the end-to-end tests use it: a copy in a folder with its Sensor.script.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

TEST(ScriptedFixture, ReadsTheScriptBesideItAtLoad)
{
    struct Call {
        int32_t result;
        uint16_t first, second;
    };
    const struct {
        const char* what;
        const char* script;  // null: no script file
        std::vector<Call> calls;
    } rows[] = {
        {"steps answer their counts, the last one forever",
         "# calibration twice, then at rest\n2 7 100 200\n\n1 0 300 400   # a comment\n",
         {{7, 100, 200}, {7, 100, 200}, {0, 300, 400}, {0, 300, 400}}},
        {"no script", nullptr, {{1, 0, 0}, {1, 0, 0}}},
        {"a bad script is no script", "1 1 100 200\n1 1 70000 0\n", {{1, 0, 0}, {1, 0, 0}}},
        {"an unknown action is a bad script", "1 1 100 200 explode\n", {{1, 0, 0}}},
    };
    for (const auto& r : rows) {
        std::string pattern = (fs::temp_directory_path() / "kestrane-fixture-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        const fs::path folder = pattern;
        fs::copy_file(KESTRANE_SCRIPTED_FIXTURE, folder / "Sensor.dll");
        if (r.script)
            std::ofstream(folder / "Sensor.script") << r.script;
        void* library = dlopen((folder / "Sensor.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto entry = reinterpret_cast<int32_t (*)(void*)>(dlsym(library, "ShockproofGetAccelerometerData"));
        ASSERT_NE(entry, nullptr);
        for (std::size_t i = 0; i < r.calls.size(); ++i) {
            unsigned char record[20] = {};
            EXPECT_EQ(entry(record), r.calls[i].result) << r.what << ", call " << i;
            EXPECT_EQ(record[4] | record[5] << 8, r.calls[i].first) << r.what << ", call " << i;
            EXPECT_EQ(record[6] | record[7] << 8, r.calls[i].second) << r.what << ", call " << i;
        }
        dlclose(library);
        fs::remove_all(folder);
    }
}
