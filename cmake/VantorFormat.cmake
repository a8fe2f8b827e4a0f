# `format` rewrites the C++ sources of the project to the committed .clang-format; `format-check`
# only reports the files that differ from it (and fails when there are any). The files are listed
# when the target runs (git's tracked *.h and *.cpp under src, tests, bench and cockpit), so new
# files need no new configure.
#
# Run as a script (cmake -P): -DCLANG_FORMAT= -DSOURCE_DIR= -DMODE=format|check.

if(CMAKE_SCRIPT_MODE_FILE)
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" ls-files -- "src/*.h" "src/*.cpp" "tests/*.h" "tests/*.cpp"
                            "bench/*.h" "bench/*.cpp" "cockpit/*.h" "cockpit/*.cpp"
                    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE listed RESULT_VARIABLE failed
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
      message(FATAL_ERROR "git ls-files failed in ${SOURCE_DIR}")
    endif()
    string(REPLACE "\n" ";" files "${listed}")
  else()
    file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp"
         "${SOURCE_DIR}/tests/*.h" "${SOURCE_DIR}/tests/*.cpp" "${SOURCE_DIR}/bench/*.h" "${SOURCE_DIR}/bench/*.cpp"
         "${SOURCE_DIR}/cockpit/*.h" "${SOURCE_DIR}/cockpit/*.cpp")
  endif()
  if(MODE STREQUAL "format")
    set(arguments -i)
  else()
    set(arguments --dry-run --Werror)
  endif()
  # A few hundred files at a time keep the command line short.
  set(batch "")
  set(count 0)
  set(status 0)
  list(LENGTH files total)
  foreach(file IN LISTS files)
    list(APPEND batch "${file}")
    math(EXPR count "${count} + 1")
    list(LENGTH batch size)
    if(size EQUAL 100 OR count EQUAL total)
      execute_process(COMMAND "${CLANG_FORMAT}" --style=file ${arguments} ${batch}
                      WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE failed ERROR_VARIABLE errors)
      if(failed)
        set(status 1)
        if(MODE STREQUAL "check")
          # One line per file that differs.
          string(REGEX MATCHALL "[^\n]*: error: code should be clang-formatted" lines "${errors}")
          foreach(line IN LISTS lines)
            string(REGEX REPLACE ":[0-9]+:[0-9]+: error: code should be clang-formatted" "" line "${line}")
            list(APPEND differ "${line}")
          endforeach()
        else()
          message(SEND_ERROR "${errors}")
        endif()
      endif()
      set(batch "")
    endif()
  endforeach()
  if(MODE STREQUAL "check")
    list(REMOVE_DUPLICATES differ)
    list(LENGTH differ bad)
    if(bad GREATER 0)
      string(REPLACE ";" "\n  " shown "${differ}")
      message(FATAL_ERROR "${bad} of ${total} files differ from .clang-format:\n  ${shown}\n(`cmake --build <dir> --target format` rewrites them)")
    elseif(status)
      message(FATAL_ERROR "clang-format failed")
    endif()
    message(STATUS "All ${total} files follow .clang-format")
  else()
    message(STATUS "Formatted ${total} files")
  endif()
  return()
endif()

find_program(VANTOR_CLANG_FORMAT NAMES clang-format clang-format-19 clang-format-16 clang-format-14)
if(VANTOR_CLANG_FORMAT)
  foreach(mode IN ITEMS format check)
    if(mode STREQUAL "format")
      set(name format)
    else()
      set(name format-check)
    endif()
    add_custom_target(${name}
      COMMAND ${CMAKE_COMMAND} -DCLANG_FORMAT=${VANTOR_CLANG_FORMAT} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
              -DMODE=${mode} -P ${CMAKE_CURRENT_LIST_FILE}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      COMMENT "clang-format (${mode}) of the sources"
      VERBATIM)
  endforeach()
endif()
