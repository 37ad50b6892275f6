# Export system tests: copy, quick save, Save As and print driven on an X
# display (the clipboard read back with xclip, dialogs answered with xdotool).
add_executable(systest_export ${CMAKE_CURRENT_LIST_DIR}/export/ExportSystemTest.cpp)
target_include_directories(systest_export PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(systest_export PRIVATE kadrix_core kadrix_testsupport GTest::gtest Qt6::Core Qt6::Widgets)
