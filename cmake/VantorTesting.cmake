# vantor_add_gtest(NAME sources... [LIBS libs...] [LABELS labels...])
# One ctest per test executable; GoogleTest for the core.
include(GoogleTest)

# Native tests run in a home of their own (tests/support/hermetic.sh): a fresh HOME and XDG folders
# for every run, removed afterwards. Under a cross-compiling emulator the test command must stay a
# bare target for ctest to put the emulator in front of it.
if(CMAKE_CROSSCOMPILING)
  set(VANTOR_TEST_LAUNCHER "")
else()
  set(VANTOR_TEST_LAUNCHER ${PROJECT_SOURCE_DIR}/tests/support/hermetic.sh)
endif()

# vantor_add_test(NAME COMMAND...): add_test through the launcher.
function(vantor_add_test name)
  if(VANTOR_TEST_LAUNCHER)
    add_test(NAME ${name} COMMAND ${VANTOR_TEST_LAUNCHER} ${ARGN})
  else()
    add_test(NAME ${name} COMMAND ${ARGN})
  endif()
endfunction()
function(vantor_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE vantor_common vantor_core vantor_test_support GTest::gtest GTest::gtest_main ${ARG_LIBS})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(VANTOR_TEST_LAUNCHER)
    vantor_add_test(${name} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# vantor_add_qtest(NAME sources... [LIBS libs...]): a Qt Test executable run offscreen.
function(vantor_add_qtest name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE vantor_common vantor_widgets vantor_core vantor_test_support Qt6::Test ${ARG_LIBS})
  vantor_add_test(${name} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS gui ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
