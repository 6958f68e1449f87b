# The byte-native text view: opening large documents to the first paint, a keystroke, memory.
add_executable(view_bench ${CMAKE_CURRENT_LIST_DIR}/view_bench.cpp)
target_link_libraries(view_bench PRIVATE kestrane_layer Qt6::Widgets benchmark::benchmark)
target_include_directories(view_bench PRIVATE ${PROJECT_SOURCE_DIR}/src/layer)
set_target_properties(view_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
