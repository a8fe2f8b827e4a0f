# Each folder of src/ is a room: a library of its own that links only the rooms below it.
# Includes are written by room ("monitor/SessionMonitor.h"), and a room's target sees only its own
# folder and, through the rooms it links, theirs: every room has a view folder in the build tree,
# rooms/<room>/, holding one link, <room> -> src/<room>, which it hands on as its include folder.
# An include of a room that is not below it then fails to compile, and a call that runs back up
# fails to link.
#
# vantor_room(TARGET FOLDER [QT] [USES targets...]): a static library for src/FOLDER (its files are
# added with target_sources), linking USES publicly. QT: the room's Qt half (moc and rcc on); it
# shares the view of the plain half of its room.
function(vantor_room target folder)
  cmake_parse_arguments(ARG "QT" "" "USES" ${ARGN})
  add_library(${target} STATIC)
  target_link_libraries(${target} PUBLIC vantor_common ${ARG_USES})
  if(ARG_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
  else()
    set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
  endif()
  vantor_room_view(${target} ${folder})
endfunction()

# vantor_room_view(TARGET FOLDER): gives TARGET the view of src/FOLDER as its public include folder.
function(vantor_room_view target folder)
  string(REPLACE "/" "_" name "${folder}")
  set(view ${PROJECT_BINARY_DIR}/rooms/${name})
  set(link ${view}/${folder})
  set(real ${PROJECT_SOURCE_DIR}/src/${folder})
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} current)
  endif()
  if(NOT IS_SYMLINK ${link} OR NOT current STREQUAL real)
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(REMOVE ${link})
    file(CREATE_LINK ${real} ${link} RESULT failed SYMBOLIC)
    if(failed)
      # No links on this file system: every room sees all of src/ (nothing is checked).
      message(STATUS "rooms: no link for ${folder} (${failed}); its includes are not checked")
      target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
      return()
    endif()
  endif()
  target_include_directories(${target} PUBLIC ${view})
endfunction()
