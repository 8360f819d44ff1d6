# The file list: filling it from the listing, copying a link, the self-closing message box.
list(APPEND SHARE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/file_list.cpp)
list(APPEND SHARE_LIBS runtime_ui)
