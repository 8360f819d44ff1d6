# The file list: filling it from the listing and copying a link.
list(APPEND SHARE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/file_list.cpp)
list(APPEND SHARE_LIBS runtime_ui)
