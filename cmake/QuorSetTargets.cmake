# Shared pieces of the build: the include root every library hands on, the
# generated version header, and the one way a QtTest suite becomes a ctest
# test.

# Sources include each other by their path from the source root
# ("device/discovery.h"), and the generated headers sit beside that root in
# the build folder.
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorset_version.h.in ${CMAKE_BINARY_DIR}/generated/quorset_version.h @ONLY)
add_library(quorset_source_root INTERFACE)
target_include_directories(quorset_source_root INTERFACE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)

# quorset_add_test(NAME name [SOURCES file...] [LIBS target...]
#                  [LABELS label...] [ENVIRONMENT VAR=value...] [TIMEOUT seconds]
#                  [DEFINITIONS NAME=value...] [INCLUDES dir...]
#                  [DEPENDS target...] [UIC_SEARCH_PATHS dir...])
#
# One QtTest executable run as the ctest test of the same name. SOURCES
# defaults to <name>.cpp; Qt Test is always linked. DEPENDS names programs
# the test starts, so that they are built first; UIC_SEARCH_PATHS lets a test
# include a form that lives in another folder (app/mainwindow.ui).
function(quorset_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "NAME;TIMEOUT"
                        "SOURCES;LIBS;LABELS;ENVIRONMENT;DEFINITIONS;INCLUDES;DEPENDS;UIC_SEARCH_PATHS")
  if(NOT ARG_NAME)
    message(FATAL_ERROR "quorset_add_test needs a NAME")
  endif()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quorset_add_test(${ARG_NAME}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_SOURCES)
    set(ARG_SOURCES ${ARG_NAME}.cpp)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} Qt6::Test)
  if(ARG_DEFINITIONS)
    target_compile_definitions(${ARG_NAME} PRIVATE ${ARG_DEFINITIONS})
  endif()
  if(ARG_INCLUDES)
    target_include_directories(${ARG_NAME} PRIVATE ${ARG_INCLUDES})
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${ARG_NAME} ${ARG_DEPENDS})
  endif()
  if(ARG_UIC_SEARCH_PATHS)
    set_target_properties(${ARG_NAME} PROPERTIES AUTOUIC_SEARCH_PATHS "${ARG_UIC_SEARCH_PATHS}")
  endif()

  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  if(ARG_LABELS)
    set_property(TEST ${ARG_NAME} PROPERTY LABELS ${ARG_LABELS})
  endif()
  if(ARG_ENVIRONMENT)
    set_property(TEST ${ARG_NAME} PROPERTY ENVIRONMENT ${ARG_ENVIRONMENT})
  endif()
  if(ARG_TIMEOUT)
    set_property(TEST ${ARG_NAME} PROPERTY TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()
