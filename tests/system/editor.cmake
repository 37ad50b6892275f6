# The editor's system tests open the editor window on an image through a small
# stand-in for the core, and drag files onto a drop target that names them;
# the drag source drags files onto the canvas of the running kadrix, or
# offers it bytes of one type as another program may.
add_executable(kadrix-editorhost ${CMAKE_CURRENT_LIST_DIR}/editor/EditorTestHost.cpp)
target_include_directories(kadrix-editorhost PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(kadrix-editorhost PRIVATE kadrix_editor kadrix_kit Qt6::Widgets)

add_executable(kadrix-droptarget ${CMAKE_CURRENT_LIST_DIR}/editor/DropTarget.cpp)
target_link_libraries(kadrix-droptarget PRIVATE Qt6::Widgets)

find_package(PkgConfig REQUIRED)
pkg_check_modules(XCBDRAG REQUIRED IMPORTED_TARGET xcb)
add_executable(kadrix-dragsource ${CMAKE_CURRENT_LIST_DIR}/editor/DragSource.cpp)
target_link_libraries(kadrix-dragsource PRIVATE Qt6::Widgets PkgConfig::XCBDRAG)
