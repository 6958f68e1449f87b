# The component layer and the main window, in process on Qt's offscreen platform. The binary lives in
# tests/, where no Sensor.dll lies, and the fixture folder named below holds none: no sensor.
add_executable(layer_tests unit/layer_tests.cpp unit/layer_main.cpp)
target_link_libraries(layer_tests PRIVATE kestrane_system Qt6::Widgets GTest::gtest)
set_target_properties(layer_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fixtures/none)
gtest_discover_tests(layer_tests TEST_PREFIX "layer."
  PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/fixtures/none")
