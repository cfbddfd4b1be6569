# Helpers that keep the folder CMakeLists short and alike.
#
# pl_library(NAME [OBJECT] SOURCES... [WIN32_SOURCES ...] [POSIX_SOURCES ...] [DEPS ...])
#   A static library of one subsystem (OBJECT: its objects go into every
#   program that links it). Portable sources build everywhere;
#   WIN32_SOURCES (the *_win32.cpp files) only in the Windows build,
#   POSIX_SOURCES (the *_posix.cpp files) only in the native one.
# pl_executable(NAME [WIN32] [DLL] SOURCES ... [DEPS ...])
#   A program of ours: WIN32 a GUI program, DLL a library loaded at run time
#   (named without "lib"). Our warnings and include root; DEPS linked privately.
# pl_test(NAME [NATIVE] [WIN32] SOURCES ... [DEPS ...])
#   One GoogleTest executable = one CTest test. NATIVE builds it in the native
#   tree, WIN32 in the Windows tree (run under Wine through the emulator).
#   Each Wine start costs time, so keep one executable per area, not per case.

function(pl_library name)
  cmake_parse_arguments(A "OBJECT" "" "SOURCES;WIN32_SOURCES;POSIX_SOURCES;DEPS" ${ARGN})
  set(srcs ${A_SOURCES})
  if(WIN32)
    list(APPEND srcs ${A_WIN32_SOURCES})
  else()
    list(APPEND srcs ${A_POSIX_SOURCES})
  endif()
  if(A_OBJECT)
    add_library(${name} OBJECT ${srcs})
  else()
    add_library(${name} STATIC ${srcs})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${PL_WARNINGS})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

function(pl_executable name)
  cmake_parse_arguments(A "WIN32;DLL" "" "SOURCES;DEPS" ${ARGN})
  if(A_DLL)
    add_library(${name} SHARED ${A_SOURCES})
    set_target_properties(${name} PROPERTIES PREFIX "")
  elseif(A_WIN32)
    add_executable(${name} WIN32 ${A_SOURCES})
  else()
    add_executable(${name} ${A_SOURCES})
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${PL_WARNINGS})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
endfunction()

function(pl_test name)
  cmake_parse_arguments(A "NATIVE;WIN32" "TIMEOUT" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  if(WIN32 AND NOT A_WIN32)
    return()
  endif()
  if(NOT WIN32 AND NOT A_NATIVE)
    return()
  endif()
  pl_executable(${name} SOURCES ${A_SOURCES} DEPS ${A_DEPS} GTest::gtest_main GTest::gmock)
  if(NOT WIN32)
    target_link_libraries(${name} PRIVATE Threads::Threads)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "PL_SOURCE_DIR=${PROJECT_SOURCE_DIR};PL_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(A_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${A_PROPERTIES})
  endif()
endfunction()
