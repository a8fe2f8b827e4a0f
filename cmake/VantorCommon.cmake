# One INTERFACE target carries the language level and the warnings for every target of the project.
add_library(vantor_common INTERFACE)
target_compile_features(vantor_common INTERFACE cxx_std_20)
if(MSVC)
  target_compile_options(vantor_common INTERFACE /W4 /permissive-)
else()
  target_compile_options(vantor_common INTERFACE
    -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wno-missing-field-initializers)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(vantor_common INTERFACE -Wshadow=local)
  endif()
endif()
target_compile_definitions(vantor_common INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
if(WIN32)
  # Every Windows source wants the lean headers without the min/max macros.
  target_compile_definitions(vantor_common INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX)
endif()
if(VANTOR_SANITIZE)
  target_compile_options(vantor_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(vantor_common INTERFACE -fsanitize=address,undefined)
endif()
