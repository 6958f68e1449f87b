add_executable(files_tests ${CMAKE_CURRENT_LIST_DIR}/unit/files_document_tests.cpp
                           ${CMAKE_CURRENT_LIST_DIR}/unit/files_linebreaks_tests.cpp)
target_link_libraries(files_tests PRIVATE kestrane_os GTest::gtest_main)
set_target_properties(files_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
gtest_discover_tests(files_tests)

# The fuzz targets need clang's libFuzzer, so they are a project of their own built with clang++.
if(KESTRANE_FUZZ)
  include(ExternalProject)
  ExternalProject_Add(files_fuzz
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endif()
