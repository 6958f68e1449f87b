# The text area's byte-native view.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

# The model: bytes, paragraphs, units, row breaking, the row index. No window system.
add_executable(view_model_tests ${CMAKE_CURRENT_LIST_DIR}/unit/view_model_tests.cpp)
target_link_libraries(view_model_tests PRIVATE kestrane_os GTest::gtest_main)
gtest_discover_tests(view_model_tests TEST_PREFIX "view.")

# The widget on Qt's offscreen platform: display, keys, clipboard, undo.
add_executable(view_widget_tests ${CMAKE_CURRENT_LIST_DIR}/unit/view_widget_tests.cpp)
target_link_libraries(view_widget_tests PRIVATE kestrane_layer Qt6::Widgets Qt6::Test GTest::gtest)
target_include_directories(view_widget_tests PRIVATE ${PROJECT_SOURCE_DIR}/src/layer)
gtest_discover_tests(view_widget_tests TEST_PREFIX "view." PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
