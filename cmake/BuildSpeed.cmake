# Build speed: unity batches and precompiled headers.
#
# Unity batches: each target's sources are compiled in batches of a few files,
# so the headers they share are read once per batch. Names with internal
# linkage (anonymous namespaces, static functions) share a batch's scope: give
# them names that say what they are, so two files cannot clash.
if(QEL_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)
endif()

if(CCACHE_PROGRAM AND QEL_PCH)
  # ccache caches compiles that use a precompiled header only when it may
  # trust the header's time stamps and the defines.
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
      "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
      ${CCACHE_PROGRAM})
endif()

# The targets made in dir and in the folders below it.
function(qel_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    qel_targets_below(${subdir} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# A program that only carries precompiled headers for others to reuse. It is
# an executable like its users, so both compile with the same options.
function(qel_header_host name)
  cmake_parse_arguments(PARSE_ARGV 1 host "" "" "LIBRARIES;HEADERS")
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "int main() { return 0; }\n")
  add_executable(${name} EXCLUDE_FROM_ALL ${source})
  target_link_libraries(${name} PRIVATE ${host_LIBRARIES})
  target_compile_options(${name} PRIVATE ${QEL_TEST_OPTIMIZATION})
  target_precompile_headers(${name} PRIVATE ${host_HEADERS})
endfunction()

# qel_speed_up_tests(DIR): the test programs made under DIR compile their own
# files at -Og (the code under test keeps the build's optimisation; a test's
# body gains nothing from -O3 but minutes of compiling) and read GoogleTest,
# Qt and the standard headers from one precompiled copy per kind of test.
function(qel_speed_up_tests dir)
  set(QEL_TEST_OPTIMIZATION $<$<NOT:$<CONFIG:Debug>>:-Og>)
  qel_targets_below(${dir} targets)
  set(std <algorithm> <cstdint> <cstring> <filesystem> <fstream> <functional> <map> <memory> <optional>
      <sstream> <string> <string_view> <vector>)
  if(QEL_PCH)
    find_package(GTest REQUIRED)
    qel_header_host(qel_pch_gtest LIBRARIES GTest::gtest GTest::gmock
      HEADERS <gtest/gtest.h> <gmock/gmock.h> ${std})
    qel_header_host(qel_pch_gtest_qt LIBRARIES GTest::gtest GTest::gmock Qt6::Core Qt6::DBus
      HEADERS <gtest/gtest.h> <gmock/gmock.h> ${std} <QtCore>)
  endif()
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "EXECUTABLE")
      continue()
    endif()
    target_compile_options(${target} PRIVATE ${QEL_TEST_OPTIMIZATION})
    if(NOT QEL_PCH)
      continue()
    endif()
    get_target_property(libraries ${target} LINK_LIBRARIES)
    set(qt OFF)
    foreach(library qeldrivers qeldesktop Qt6::Core)
      if(library IN_LIST libraries)
        set(qt ON)
      endif()
    endforeach()
    if("Qt6::Test" IN_LIST libraries)
      # Qt Test defines each program's folders, so a Qt Test program shares
      # the headers of the first one in its folder.
      get_target_property(folder ${target} BINARY_DIR)
      string(MAKE_C_IDENTIFIER "${folder}" key)
      if(DEFINED qttest_${key})
        target_precompile_headers(${target} REUSE_FROM ${qttest_${key}})
      else()
        set(qttest_${key} ${target})
        target_precompile_headers(${target} PRIVATE ${std} <QtWidgets> <QtTest>)
      endif()
    elseif("GTest::gtest" IN_LIST libraries AND qt)
      target_precompile_headers(${target} REUSE_FROM qel_pch_gtest_qt)
    elseif("GTest::gtest" IN_LIST libraries)
      target_precompile_headers(${target} REUSE_FROM qel_pch_gtest)
    endif()
  endforeach()
endfunction()
