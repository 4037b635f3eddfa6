# A test's own time limit (TIMEOUT) is about three times what it takes in a
# release build, enough for a loaded machine and no more, so that a test that
# hangs fails soon. Slower builds multiply every limit by
# KESTREL_TEST_TIME_SCALE: by default 2 in a Debug build, 4 under the sanitizers (the thread sanitizer too).
if(KESTREL_SANITIZE OR KESTREL_TSAN)
  set(defaultTimeScale 4)
elseif(CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(defaultTimeScale 2)
else()
  set(defaultTimeScale 1)
endif()
set(KESTREL_TEST_TIME_SCALE ${defaultTimeScale} CACHE STRING "Factor on every test's own time limit")

# Sets VAR to SECONDS times KESTREL_TEST_TIME_SCALE.
function(kestrel_time_limit var seconds)
  math(EXPR scaled "${seconds} * ${KESTREL_TEST_TIME_SCALE}")
  set(${var} ${scaled} PARENT_SCOPE)
endfunction()
