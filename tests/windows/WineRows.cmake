# Read by ctest in the Windows build (wine-rows.cmake sets rowsProgram and
# rowsEnvironment): one test labelled wine per test of the Linux build's Wine
# program, each run alone through --gtest_filter so that rows run side by side.
execute_process(COMMAND "${rowsProgram}" --gtest_list_tests OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  add_test(wine.rows /bin/sh -c "echo '${rowsProgram} does not list its rows: build the Linux build first'; exit 1")
  set_tests_properties(wine.rows PROPERTIES LABELS wine)
  return()
endif()
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ ]+)\\.$")
    set(suite "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  ([^ ]+)")
    set(test "${suite}.${CMAKE_MATCH_1}")
    string(REGEX REPLACE "^.*[/.]" "" name "${test}")
    add_test("wine.${name}" "${rowsProgram}" "--gtest_filter=${test}")
    set_tests_properties("wine.${name}" PROPERTIES LABELS wine FIXTURES_REQUIRED winePrefix TIMEOUT 120
                         ENVIRONMENT "${rowsEnvironment}" SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
  endif()
endforeach()
