add_executable(files_bench ${CMAKE_CURRENT_LIST_DIR}/files_bench.cpp)
target_link_libraries(files_bench PRIVATE kestrane_os benchmark::benchmark)
set_target_properties(files_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
