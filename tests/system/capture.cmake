# Capture system tests: a GoogleTest program run on the X display (real
# windows, real grabs, xdotool), and the test client that shows windows of
# known content. capture_system_test.sh runs it on the harness's display.
add_executable(kadrix-testclient ${CMAKE_CURRENT_LIST_DIR}/capture/TestClient.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture/HungFolder.cpp)
target_include_directories(kadrix-testclient PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
pkg_check_modules(TESTCLIENT_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(kadrix-testclient PRIVATE kadrix_kit Qt6::Widgets PkgConfig::TESTCLIENT_XCB)

add_executable(systest_capture ${CMAKE_CURRENT_LIST_DIR}/capture/CaptureSystemTest.cpp)
target_include_directories(systest_capture PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(systest_capture PRIVATE kadrix_capture kadrix_kit kadrix_services kadrix_testsupport
                      GTest::gtest Qt6::Core Qt6::Widgets)
add_dependencies(systest_capture kadrix-testclient kadrix-screencapture)
