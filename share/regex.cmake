# The regular-expression object: PCRE2, 8-bit code units.
list(APPEND SHARE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/regex_object.cpp)
list(APPEND SHARE_LIBS PkgConfig::PCRE2)
