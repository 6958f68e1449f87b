# End-to-end tests: the real program on an Xvfb display of each test's own, with openbox, driven with
# xdotool. One CTest test per test class; a class whose every test was skipped exits 77.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(e2e_dir ${CMAKE_CURRENT_LIST_DIR}/e2e)
set(e2e_environment
  "KESTRANE_PROGRAM=$<TARGET_FILE:kestrane>"
  "KESTRANE_FIXTURE_SCRIPTED=$<TARGET_FILE:sensor_fixture_scripted>"
  "KESTRANE_FIXTURE_NOENTRY=$<TARGET_FILE:sensor_fixture_noentry>"
  "KESTRANE_SIMULATOR=$<TARGET_FILE:sensor_simulator>"
  "PYTHONDONTWRITEBYTECODE=1")

foreach(test
    window:Readings window:UserAndDialogs window:Startup window:NoSensor window:Closing
    documents:RoundTrips documents:DialogPaths documents:Failures documents:FullDisk documents:ShiftJIS)
  string(REPLACE ":" ";" parts ${test})
  list(GET parts 0 file)
  list(GET parts 1 class)
  add_test(NAME e2e.${file}.${class}
           COMMAND ${Python3_EXECUTABLE} ${e2e_dir}/test_${file}.py ${class})
  set_tests_properties(e2e.${file}.${class} PROPERTIES
    ENVIRONMENT "${e2e_environment}"
    TIMEOUT 900
    LABELS e2e
    SKIP_RETURN_CODE 77)
endforeach()
