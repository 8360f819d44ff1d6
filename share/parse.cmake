# The parse command: share-link extraction, the listing request and the sample fetch.
list(APPEND SHARE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/parse_command.cpp)
list(APPEND SHARE_LIBS http share_request runtime_ui)
