# Run by ctest (through the include file quorvel_test_suite writes): lists the
# test executable's GoogleTest suites and adds one ctest test per suite, which
# runs that suite's tests in one process. A suite's fixtures and the
# libraries' start-up are then paid once per suite, not once per test.
function(quorvel_add_suite_tests)
  cmake_parse_arguments(A "" "EXECUTABLE;OUTPUT;PREFIX;TIMEOUT;LABELS;WORKING_DIRECTORY" "" ${ARGN})
  execute_process(
    COMMAND "${A_EXECUTABLE}" --gtest_list_tests
    WORKING_DIRECTORY "${A_WORKING_DIRECTORY}"
    OUTPUT_VARIABLE listing
    RESULT_VARIABLE result
    TIMEOUT 60)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Listing the tests of ${A_EXECUTABLE} failed (${result}):\n${listing}")
  endif()
  # Parameter values printed after '#' may hold list separators.
  string(REPLACE ";" "," listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(suites "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
      set(suite "${CMAKE_MATCH_1}")
      list(APPEND suites "${suite}")
      set(count_${suite} 0)
    elseif(line MATCHES "^  [^ ]" AND suite)
      math(EXPR count_${suite} "${count_${suite}} + 1")
    endif()
  endforeach()
  set(content "")
  foreach(suite IN LISTS suites)
    set(name "${A_PREFIX}${suite}")
    string(APPEND content
      "add_test([==[${name}]==] [==[${A_EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([==[${name}]==] PROPERTIES WORKING_DIRECTORY [==[${A_WORKING_DIRECTORY}]==]"
      " TIMEOUT ${A_TIMEOUT} COST ${count_${suite}}")
    if(A_LABELS)
      string(APPEND content " LABELS ${A_LABELS}")
    endif()
    string(APPEND content ")\n")
  endforeach()
  file(WRITE "${A_OUTPUT}" "${content}")
endfunction()
