# One interface target that every project target links: language level, warnings and
# Qt's safety defines live here so no target can drift from them.
add_library(pandrel_common INTERFACE)
target_compile_features(pandrel_common INTERFACE cxx_std_20)
target_compile_options(pandrel_common INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(pandrel_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    _FILE_OFFSET_BITS=64)

# Every executable and shared library lands in one folder, so the program finds its engine
# and the command-line tools beside itself when run from the build tree.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
