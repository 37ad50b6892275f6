# kadrix_library(<folder> [DEPS lib...] [PRIVATE lib...])
# A static library `kadrix_<folder>` from every .cpp under src/<folder>.
function(kadrix_library folder)
  cmake_parse_arguments(K "" "" "DEPS;PRIVATE" ${ARGN})
  string(REPLACE "/" "_" name ${folder})
  string(REPLACE "-" "_" name ${name})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
  if(NOT sources)
    # A folder whose first sources are still being written: headers only.
    add_library(kadrix_${name} INTERFACE)
    target_include_directories(kadrix_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(kadrix_${name} INTERFACE ${K_DEPS})
    return()
  endif()
  add_library(kadrix_${name} STATIC ${sources})
  target_include_directories(kadrix_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(kadrix_${name} PUBLIC ${K_DEPS} PRIVATE ${K_PRIVATE})
endfunction()

# kadrix_tests(<folder> [DEPS lib...] [SHARDS n] [ALONE pattern...])
# One GoogleTest executable `test_<folder>` from every .cpp under tests/<folder>;
# unit tests run headless on Qt's offscreen platform with a private KADRIX_HOME.
# CTest runs each executable whole (or in n shards side by side) rather than
# one process a case: a thousand short processes cost more than the tests, and
# twice that under the sanitizers. Run one case with --gtest_filter. Cases
# matching an ALONE pattern run in a process of their own, away from the
# shards: modal file dialogs there stop seeing Qt's timers after some other
# cases ran in the same process.
function(kadrix_tests folder)
  cmake_parse_arguments(K "" "SHARDS" "DEPS;ALONE" ${ARGN})
  string(REPLACE "/" "_" name ${folder})
  string(REPLACE "-" "_" name ${name})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE ${K_DEPS} kadrix_testsupport GTest::gtest GTest::gmock Threads::Threads)
  if(NOT K_SHARDS)
    set(K_SHARDS 1)
  endif()
  math(EXPR last "${K_SHARDS} - 1")
  foreach(shard RANGE ${last})
    set(test test_${name})
    if(K_SHARDS GREATER 1)
      set(test test_${name}_${shard})
    endif()
    set(filter)
    if(K_ALONE)
      string(JOIN ":" alone ${K_ALONE})
      set(filter --gtest_filter=-${alone})
    endif()
    add_test(NAME ${test} COMMAND test_${name} --gtest_brief=1 ${filter})
    # The watchdog in TestMain stops a case that hangs long before this.
    set_tests_properties(${test} PROPERTIES LABELS "unit;gtest" TIMEOUT 600
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KADRIX_TEST=1;GTEST_TOTAL_SHARDS=${K_SHARDS};GTEST_SHARD_INDEX=${shard}")
  endforeach()
  if(K_ALONE)
    add_test(NAME test_${name}_alone COMMAND test_${name} --gtest_brief=1 --gtest_filter=${alone})
    set_tests_properties(test_${name}_alone PROPERTIES LABELS "unit;gtest" TIMEOUT 600
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KADRIX_TEST=1")
  endif()
endfunction()

# The system tests the calling folder has registered so far get their time
# drawn from how fast the machine is when ctest runs them: each keeps the
# TIMEOUT it was given as a quiet machine's time (150 s when none), which
# tests/system/timeouts scales. Called at the end of a folder's tests.
function(kadrix_scaled_system_tests)
  get_property(registered DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS registered)
    get_test_property(${test} LABELS labels)
    if(NOT "system" IN_LIST labels)
      continue()
    endif()
    get_test_property(${test} TIMEOUT base)
    if(NOT base)
      set(base 150)
    endif()
    get_test_property(${test} ENVIRONMENT environment)
    if(NOT environment)
      set(environment "")
    endif()
    set_property(GLOBAL APPEND_STRING PROPERTY KADRIX_SYSTEM_TIME_LIMITS
      "kadrix_time_limit(${test} ${base} [==[${environment}]==])\n")
  endforeach()
endfunction()
