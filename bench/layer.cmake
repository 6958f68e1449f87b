# The program measured from outside (scripts/bench.sh): a sensor library that logs when it is called.
kestrane_sensor_library(sensor_fixture_ticklog ${CMAKE_BINARY_DIR}/fixtures/ticklog ${CMAKE_CURRENT_LIST_DIR}/ticklog/TickLog.cpp)
target_include_directories(sensor_fixture_ticklog PRIVATE ${PROJECT_SOURCE_DIR}/sensors)
