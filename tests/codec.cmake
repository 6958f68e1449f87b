add_executable(codec_tests ${CMAKE_CURRENT_LIST_DIR}/unit/codec_tests.cpp)
target_link_libraries(codec_tests PRIVATE kestrane_os GTest::gtest_main)
gtest_discover_tests(codec_tests PROPERTIES ENVIRONMENT LC_ALL=ja_JP.SJIS)

# The marks must survive the real text widget; it runs without a display.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(codec_qt_tests ${CMAKE_CURRENT_LIST_DIR}/unit/codec_qt_tests.cpp)
target_link_libraries(codec_qt_tests PRIVATE kestrane_os Qt6::Widgets GTest::gtest)
add_test(NAME codec_qt_tests COMMAND codec_qt_tests)
set_tests_properties(codec_qt_tests PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
