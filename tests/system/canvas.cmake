# The editor canvas on a real display: a GoogleTest program that shows the
# canvas view in a window and drives it with xdotool (canvas_test.sh).
add_executable(systest_canvas ${CMAKE_CURRENT_LIST_DIR}/canvas/CanvasSystemTest.cpp)
target_include_directories(systest_canvas PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(systest_canvas PRIVATE kadrix_editor kadrix_kit kadrix_services kadrix_testsupport
                      GTest::gtest Qt6::Core Qt6::Widgets)
