add_executable(codec_bench ${CMAKE_CURRENT_LIST_DIR}/codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE kestrane_os benchmark::benchmark_main)
