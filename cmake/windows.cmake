# Settings for every Windows target: static runtime (the executables import only system DLLs),
# GBK narrow literals from UTF-8 sources, and GoogleTest built from Debian's sources with the
# same compilers.
add_compile_options(-fexec-charset=GB18030 -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)

set(TAMBREL_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${TAMBREL_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# GoogleTest's own sources are not ours to keep warning-free.
foreach(t gtest gtest_main gmock gmock_main)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -w)
  endif()
endforeach()

# Where the tests find the Windows prefix and (for end-to-end tests) the native service.
set(TAMBREL_STAMPD "" CACHE FILEPATH "native stampd binary for end-to-end tests")

# tambrel_add_wine_test(name target [GUI] [TIMEOUT s]): one ctest entry per test executable;
# GUI tests need the virtual display that scripts/test.sh starts.
function(tambrel_add_wine_test name target)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${target} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_GUI)
    set_tests_properties(${name} PROPERTIES LABELS gui)
  endif()
endfunction()
