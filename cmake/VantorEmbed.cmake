# vantor_embed(TARGET target NAMESPACE ns SYMBOL name FILE file)
# Puts the bytes of `file` into `target` as `extern const std::string_view ns::name`, through a .cpp
# written at build time (again whenever the file changes). The file stays a real file of the source
# tree (a style sheet, a script) that editors and linters read as what it is.
#
# Run as a script (cmake -P) it writes that .cpp: -DINPUT= -DOUTPUT= -DNAMESPACE= -DSYMBOL=.

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Twenty bytes a line, each as 0xNN.
  set(bytes "")
  set(at 0)
  while(at LESS digits)
    string(SUBSTRING "${hex}" ${at} 40 line)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," line "${line}")
    string(APPEND bytes "${line}\n    ")
    math(EXPR at "${at} + 40")
  endwhile()
  get_filename_component(name "${INPUT}" NAME)
  file(WRITE "${OUTPUT}.tmp"
    "// Written by the build from ${name}: do not edit.\n"
    "#include <string_view>\n\n"
    "namespace ${NAMESPACE} {\n\n"
    "namespace {\n"
    "constexpr char bytes[] = {\n    ${bytes}0};\n"
    "}  // namespace\n\n"
    "extern const std::string_view ${SYMBOL};\n"
    "const std::string_view ${SYMBOL}(bytes, ${size});\n\n"
    "}  // namespace ${NAMESPACE}\n")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()

set(VANTOR_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE} CACHE INTERNAL "")

function(vantor_embed)
  cmake_parse_arguments(ARG "" "TARGET;NAMESPACE;SYMBOL;FILE" "" ${ARGN})
  get_filename_component(input "${ARG_FILE}" ABSOLUTE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/embed/${ARG_SYMBOL}.cpp)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DNAMESPACE=${ARG_NAMESPACE}
            -DSYMBOL=${ARG_SYMBOL} -P ${VANTOR_EMBED_SCRIPT}
    DEPENDS ${input} ${VANTOR_EMBED_SCRIPT}
    COMMENT "Embedding ${ARG_FILE}"
    VERBATIM)
  target_sources(${ARG_TARGET} PRIVATE ${output})
endfunction()
