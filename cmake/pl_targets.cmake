# Helpers that keep the folder CMakeLists short and alike.
#
# pl_library(NAME SOURCES... [WIN32_SOURCES ...] [DEPS ...])
#   A static library of one subsystem. Portable sources build everywhere;
#   WIN32_SOURCES (the *_win32.cpp files) only in the Windows build.
# pl_test(NAME [NATIVE] [WIN32] SOURCES ... [DEPS ...])
#   One GoogleTest executable = one CTest test. NATIVE builds it in the native
#   tree, WIN32 in the Windows tree (run under Wine through the emulator).
#   Each Wine start costs time, so keep one executable per area, not per case.

function(pl_library name)
  cmake_parse_arguments(A "" "" "SOURCES;WIN32_SOURCES;DEPS" ${ARGN})
  set(srcs ${A_SOURCES})
  if(WIN32)
    list(APPEND srcs ${A_WIN32_SOURCES})
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${PL_WARNINGS})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

function(pl_test name)
  cmake_parse_arguments(A "NATIVE;WIN32" "TIMEOUT" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  if(WIN32 AND NOT A_WIN32)
    return()
  endif()
  if(NOT WIN32 AND NOT A_NATIVE)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${PL_WARNINGS})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest_main GTest::gmock)
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
