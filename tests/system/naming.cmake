# A library the save tests load into kadrix (LD_PRELOAD) to play a folder
# without links, and a save held at the step that gives its file its name.
add_library(kadrix_test_naming SHARED ${CMAKE_CURRENT_LIST_DIR}/naming/HoldNaming.cpp)
set_target_properties(kadrix_test_naming PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(kadrix_test_naming PRIVATE ${CMAKE_DL_LIBS})
