# Shared pieces of the build.

# Sources include each other by their path from the source root
# ("device/discovery.h").
add_library(quorset_source_root INTERFACE)
target_include_directories(quorset_source_root INTERFACE ${CMAKE_SOURCE_DIR})

