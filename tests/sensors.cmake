# Sensor tests. Their binaries live in tests/, where no Sensor.dll lies, so the Accelerometer's bare
# "Sensor.dll" resolves through LD_LIBRARY_PATH to the fixture each registration names.
set(sensor_tests_dir ${CMAKE_BINARY_DIR}/tests)
set(sensor_no_library_dir ${CMAKE_BINARY_DIR}/fixtures/none)
file(MAKE_DIRECTORY ${sensor_no_library_dir})

add_executable(sensor_accelerometer_tests unit/sensor_accelerometer.cpp)
target_link_libraries(sensor_accelerometer_tests PRIVATE kestrane_sensor GTest::gtest_main ${CMAKE_DL_LIBS})
set_target_properties(sensor_accelerometer_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${sensor_tests_dir})
add_dependencies(sensor_accelerometer_tests sensor_fixture_scripted sensor_fixture_noentry)

foreach(case "scripted;Scripted*;${CMAKE_BINARY_DIR}/fixtures/scripted"
             "noentry;NoEntry.*;${CMAKE_BINARY_DIR}/fixtures/noentry"
             "missing;Missing.*;${sensor_no_library_dir}")
  list(GET case 0 name)
  list(GET case 1 filter)
  list(GET case 2 dir)
  gtest_discover_tests(sensor_accelerometer_tests
    TEST_PREFIX "sensor.${name}."
    TEST_FILTER "${filter}"
    TEST_LIST sensor_${name}_tests
    PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${dir}")
endforeach()

# The default and simulator libraries, and the scripted fixture's own script file, opened by path.
add_executable(sensor_library_tests unit/sensor_iio.cpp unit/sensor_simulator.cpp unit/sensor_fixture.cpp)
target_include_directories(sensor_library_tests PRIVATE ${PROJECT_SOURCE_DIR}/sensors)
target_link_libraries(sensor_library_tests PRIVATE kestrane_sensor GTest::gtest_main ${CMAKE_DL_LIBS})
target_compile_definitions(sensor_library_tests PRIVATE
  KESTRANE_IIO_LIBRARY="$<TARGET_FILE:sensor_iio>"
  KESTRANE_SIMULATOR_LIBRARY="$<TARGET_FILE:sensor_simulator>"
  KESTRANE_SCRIPTED_FIXTURE="$<TARGET_FILE:sensor_fixture_scripted>")
set_target_properties(sensor_library_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${sensor_tests_dir})
add_dependencies(sensor_library_tests sensor_iio sensor_simulator sensor_fixture_scripted)
gtest_discover_tests(sensor_library_tests TEST_PREFIX "sensor.")
