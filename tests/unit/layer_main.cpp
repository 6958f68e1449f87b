#include <gtest/gtest.h>

#include <cstdlib>

#include "layer/Forms.hpp"

// The platform makes the application object before anything else runs; so do the tests.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // No display needed, not even to list the tests.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    kestrane::Application = new kestrane::TApplication;
    const int result = RUN_ALL_TESTS();
    delete kestrane::Application;
    return result;
}
