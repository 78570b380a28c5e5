# Build options shared by every target of the project.
add_library(qirn_options INTERFACE)
target_compile_features(qirn_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
# Includes name their folder: #include "engine/ScanControl.h".
target_include_directories(qirn_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(qirn_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT _FILE_OFFSET_BITS=64)

set(qirn_gnu_like "$<OR:$<CXX_COMPILER_ID:GNU>,$<CXX_COMPILER_ID:Clang>,$<CXX_COMPILER_ID:AppleClang>>")
set(qirn_msvc "$<CXX_COMPILER_ID:MSVC>")
target_compile_options(qirn_options INTERFACE
  "$<${qirn_gnu_like}:-Wall;-Wextra;-Wpedantic;-Wold-style-cast;-Wshadow;-Wconversion>"
  "$<${qirn_msvc}:/W4;/permissive->")
if(QIRN_WERROR)
  target_compile_options(qirn_options INTERFACE "$<${qirn_gnu_like}:-Werror>" "$<${qirn_msvc}:/WX>")
endif()

if(QIRN_SANITIZE AND QIRN_TSAN)
  message(FATAL_ERROR "QIRN_SANITIZE and QIRN_TSAN exclude each other: use two build folders")
endif()
if((QIRN_SANITIZE OR QIRN_TSAN) AND NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  message(FATAL_ERROR "The sanitizer builds need GCC or Clang")
endif()
if(QIRN_SANITIZE)
  target_compile_options(qirn_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(qirn_options INTERFACE -fsanitize=address,undefined)
endif()
if(QIRN_TSAN)
  target_compile_options(qirn_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(qirn_options INTERFACE -fsanitize=thread)
endif()

# libFuzzer programs (clang only); the project's code gets the coverage hooks.
option(QIRN_FUZZ "Build the libFuzzer programs (needs clang)" OFF)
if(QIRN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QIRN_FUZZ needs clang: configure with CXX=clang++")
  endif()
  target_compile_options(qirn_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# For clang-tidy (tools/check-style.sh).
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

# GCC 12 reports -Wrestrict inside std::string at -O3 where nothing overlaps
# (GCC bug 105651); the MinGW build meets it.
if(MINGW AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(qirn_options INTERFACE -Wno-restrict)
endif()
