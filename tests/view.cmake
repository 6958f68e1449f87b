# The byte-native text view, a library of its own until the text area is switched over to it.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
if(NOT TARGET kestrane_textview)
  add_library(kestrane_textview STATIC
    ${PROJECT_SOURCE_DIR}/src/core/TextBuffer.cpp
    ${PROJECT_SOURCE_DIR}/src/core/WrapLayout.cpp
    ${PROJECT_SOURCE_DIR}/src/layer/qt/TextView.cpp
    ${PROJECT_SOURCE_DIR}/src/layer/qt/TextViewEditing.cpp
    ${PROJECT_SOURCE_DIR}/src/layer/qt/TextViewLayout.cpp)
  target_include_directories(kestrane_textview PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/src/layer)
  target_link_libraries(kestrane_textview PUBLIC kestrane_os Qt6::Widgets)
endif()

# The model: bytes, paragraphs, units, row breaking, the row index. No window system.
add_executable(view_model_tests ${CMAKE_CURRENT_LIST_DIR}/unit/view_model_tests.cpp)
target_link_libraries(view_model_tests PRIVATE kestrane_textview GTest::gtest_main)
gtest_discover_tests(view_model_tests TEST_PREFIX "view.")

# The widget on Qt's offscreen platform: display, keys, clipboard, undo.
add_executable(view_widget_tests ${CMAKE_CURRENT_LIST_DIR}/unit/view_widget_tests.cpp)
target_link_libraries(view_widget_tests PRIVATE kestrane_textview Qt6::Test GTest::gtest)
gtest_discover_tests(view_widget_tests TEST_PREFIX "view." PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
