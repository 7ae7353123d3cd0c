# Helpers that give every module, test suite and benchmark the same shape.

function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(QUORVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# quorvel_module(<name> [DEPS <project modules>] [LIBS <imported targets>])
# Builds src/<name>/*.cpp, its folders' included, into the static library
# qv_<name>. Public headers are included as "<name>/Header.h" (or
# "<name>/<folder>/Header.h").
function(quorvel_module name)
  cmake_parse_arguments(M "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  # A module's loadable/ folder holds code built apart and loaded at run time.
  list(FILTER sources EXCLUDE REGEX "/loadable/")
  set(deps)
  foreach(d ${M_DEPS})
    list(APPEND deps qv_${d})
  endforeach()
  if(sources)
    add_library(qv_${name} STATIC ${sources})
    target_include_directories(qv_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qv_${name} PUBLIC ${deps} ${M_LIBS})
    quorvel_warnings(qv_${name})
  else()
    add_library(qv_${name} INTERFACE)
    target_include_directories(qv_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(qv_${name} INTERFACE ${deps} ${M_LIBS})
  endif()
endfunction()

# quorvel_test_suite(<module> [DEPS <project modules>] [LIBS <targets>])
# tests/<module>/*.cpp, its folders' included, become test_<module>;
# tests/<module>/slow/*.cpp become test_<module>_slow with the ctest label
# "slow" (unless QUORVEL_BUILD_SLOW_TESTS is off).
function(quorvel_test_suite module)
  cmake_parse_arguments(T "" "" "DEPS;LIBS" ${ARGN})
  set(deps qv_${module})
  foreach(d ${T_DEPS})
    list(APPEND deps qv_${d})
  endforeach()
  file(GLOB_RECURSE fast CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER fast EXCLUDE REGEX "^slow/")
  file(GLOB slow CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/slow/*.cpp)
  foreach(kind fast slow)
    if(NOT ${kind} OR (kind STREQUAL "slow" AND NOT QUORVEL_BUILD_SLOW_TESTS))
      continue()
    endif()
    set(exe test_${module})
    if(kind STREQUAL "slow")
      set(exe test_${module}_slow)
    endif()
    add_executable(${exe} ${${kind}})
    target_link_libraries(${exe} PRIVATE ${deps} ${T_LIBS} qv_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    quorvel_warnings(${exe})
    if(kind STREQUAL "slow")
      quorvel_suite_tests(${exe} "${module}." slow)
    else()
      quorvel_suite_tests(${exe} "${module}." "")
    endif()
  endforeach()
endfunction()

# quorvel_suite_tests(<test executable> <name prefix> <labels>)
# Each GoogleTest suite of the executable becomes one ctest test, named
# <prefix><suite>, found when ctest runs (after the executable is built).
set(QUORVEL_SUITE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/TestSuitesAdd.cmake)
function(quorvel_suite_tests exe prefix labels)
  set(base "${CMAKE_CURRENT_BINARY_DIR}/${exe}")
  set(tests "${base}_suites.cmake")
  file(GENERATE OUTPUT "${base}_include.cmake" CONTENT
"set(exe [==[$<TARGET_FILE:${exe}>]==])
if(EXISTS \"\${exe}\")
  if(NOT EXISTS [==[${tests}]==] OR NOT [==[${tests}]==] IS_NEWER_THAN \"\${exe}\"
     OR NOT [==[${tests}]==] IS_NEWER_THAN \"\${CMAKE_CURRENT_LIST_FILE}\")
    include([==[${QUORVEL_SUITE_SCRIPT}]==])
    quorvel_add_suite_tests(EXECUTABLE \"\${exe}\" OUTPUT [==[${tests}]==] PREFIX [==[${prefix}]==]
      TIMEOUT 600 LABELS \"${labels}\" WORKING_DIRECTORY [==[${CMAKE_CURRENT_BINARY_DIR}]==])
  endif()
  include([==[${tests}]==])
else()
  add_test(${exe}_NOT_BUILT ${exe}_NOT_BUILT)
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${base}_include.cmake")
endfunction()
