# Headers as each target shows them.
#
# Every library of corvel states which of its headers others may include
# (PUBLIC) and which only it and its tests may (PRIVATE). The sources keep
# one tree, so the include directories cannot be folders of it: each target
# gets staging folders in the build tree holding links to its own headers,
# at the paths the sources include them by ("corvel/debug/qzinfolog.h"):
#
#   include/<target>/           PUBLIC headers: the target's include
#                               directory for everyone that links it in
#                               the build tree; `cmake --install` puts them
#                               in <prefix>/include, the installed target's
#                               include directory
#   private/<target>/           PRIVATE headers: the target's own, and its
#                               tests' through <target>_internals (never
#                               linked by an installed library: the
#                               libraries above take the folder as an
#                               include directory)
#
# A file that includes a header its target does not see fails to compile:
# the framework cannot reach into a directory backend, and the backends
# cannot reach into each other.

include(GNUInstallDirs)

# corvel_headers(<target> [PUBLIC <header>...] [PRIVATE <header>...])
# Headers are paths relative to the project's source directory.
function(corvel_headers target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  set(public_stage ${PROJECT_BINARY_DIR}/include/${target})
  set(private_stage ${PROJECT_BINARY_DIR}/private/${target})
  # Afresh at every configure: a header taken out of a list must vanish.
  file(REMOVE_RECURSE ${public_stage} ${private_stage})
  foreach(kind PUBLIC PRIVATE)
    if(kind STREQUAL PUBLIC)
      set(stage ${public_stage})
    else()
      set(stage ${private_stage})
    endif()
    foreach(header ${ARG_${kind}})
      set(source ${PROJECT_SOURCE_DIR}/${header})
      if(NOT EXISTS ${source})
        message(FATAL_ERROR "corvel_headers(${target}): no header ${header}")
      endif()
      get_filename_component(folder ${stage}/${header} DIRECTORY)
      file(MAKE_DIRECTORY ${folder})
      file(CREATE_LINK ${source} ${stage}/${header} SYMBOLIC)
      target_sources(${target} PRIVATE ${source})
    endforeach()
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${public_stage}>
                                               $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  if(ARG_PRIVATE)
    target_include_directories(${target} PRIVATE ${private_stage})
    add_library(${target}_internals INTERFACE)
    target_include_directories(${target}_internals INTERFACE ${private_stage})
    target_link_libraries(${target}_internals INTERFACE ${target})
  endif()
  # For the installation: the public headers, by target.
  set_property(GLOBAL APPEND PROPERTY CORVEL_PUBLIC_HEADERS ${ARG_PUBLIC})
endfunction()
