find_package(PkgConfig REQUIRED)
pkg_check_modules(XCBGRAB REQUIRED IMPORTED_TARGET xcb)
# Global-shortcut system tests: a GoogleTest program that grabs keys on the
# real X display and presses them with xdotool.
add_executable(systest_shortcuts ${CMAKE_CURRENT_LIST_DIR}/shortcuts/ShortcutsSystemTest.cpp)
target_include_directories(systest_shortcuts PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(systest_shortcuts PRIVATE kadrix_shortcuts kadrix_kit kadrix_testsupport GTest::gtest
                      Qt6::Core Qt6::Widgets PkgConfig::XCBGRAB)
