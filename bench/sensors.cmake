# The sensor tick and the sensor libraries' entry points. The binary lives in bench/, away from the
# default Sensor.dll beside the program, so the Accelerometer's bare "Sensor.dll" is the fixture the
# benchmark has loaded.
# It counts allocations by replacing malloc, which would bypass a sanitizer's allocator.
if(KESTRANE_SANITIZE)
  return()
endif()

add_executable(sensor_bench sensor_bench.cpp)
target_include_directories(sensor_bench PRIVATE ${PROJECT_SOURCE_DIR}/sensors)
target_link_libraries(sensor_bench PRIVATE kestrane_sensor benchmark::benchmark ${CMAKE_DL_LIBS})
target_compile_definitions(sensor_bench PRIVATE
  KESTRANE_SCRIPTED_FIXTURE="$<TARGET_FILE:sensor_fixture_scripted>"
  KESTRANE_IIO_LIBRARY="$<TARGET_FILE:sensor_iio>"
  KESTRANE_SIMULATOR_LIBRARY="$<TARGET_FILE:sensor_simulator>")
set_target_properties(sensor_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_dependencies(sensor_bench sensor_fixture_scripted sensor_iio sensor_simulator)
