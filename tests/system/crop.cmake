# The crop tool and the ruler on a real display: a GoogleTest program that
# shows the canvas in a window and drives it with xdotool (crop_test.sh).
add_executable(systest_crop ${CMAKE_CURRENT_LIST_DIR}/crop/CropSystemTest.cpp)
target_include_directories(systest_crop PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(systest_crop PRIVATE kadrix_editor kadrix_kit kadrix_services kadrix_testsupport
                      GTest::gtest Qt6::Core Qt6::Widgets)
