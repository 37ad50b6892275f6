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

# kadrix_tests(<folder> [DEPS lib...])
# One GoogleTest executable `test_<folder>` from every .cpp under tests/<folder>;
# unit tests run headless on Qt's offscreen platform with a private KADRIX_HOME.
function(kadrix_tests folder)
  cmake_parse_arguments(K "" "" "DEPS" ${ARGN})
  string(REPLACE "/" "_" name ${folder})
  string(REPLACE "-" "_" name ${name})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE ${K_DEPS} kadrix_testsupport GTest::gtest GTest::gmock Threads::Threads)
  include(GoogleTest)
  gtest_discover_tests(test_${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS unit TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KADRIX_TEST=1")
endfunction()
