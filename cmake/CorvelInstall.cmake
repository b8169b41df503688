# Installation: `cmake --install <build> [--prefix DIR]` lays out what the
# Debian packages hold (debian/*.install split it between them):
#
#   bin/qzAuthTest, bin/qzIsMember          the programs
#   share/man/man1/*.1.gz                   their manual pages
#   <libdir>/qzauthtest/libqzSSPI.so        the logon plug-in, private to them
#   include/corvel/...                      corvel's public headers
#   <libdir>/libcorvel*.a                   its static libraries
#   <libdir>/cmake/corvel/                  find_package(corvel CONFIG)
#   <libdir>/pkgconfig/corvel.pc            pkg-config corvel
#
# <libdir> is GNUInstallDirs' (lib/<multiarch> under /usr on Debian).
# qzLogonTest is a driver for the tests, not installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# --- the programs and their plug-in -------------------------------------------

install(TARGETS qzAuthTest qzIsMember RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The plug-in is loaded by our programs alone, by its own name, so it lives in
# a directory of theirs rather than on the system's library path. The loader
# is told that directory (os_loader.h): next after the program's own.
set(CORVEL_PRIVATE_PLUGIN_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/qzauthtest)
if(TARGET qzSSPI)
  install(TARGETS qzSSPI LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/qzauthtest)
endif()
if(NOT WIN32)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/corvel/platform/os_loader_posix.cpp
               TARGET_DIRECTORY corvel_platform APPEND PROPERTY
               COMPILE_DEFINITIONS CORVEL_PRIVATE_PLUGIN_DIR="${CORVEL_PRIVATE_PLUGIN_DIR}")
endif()

# Manual pages with the project's version on their title line, compressed as
# Debian installs them (-n: no name or time in the archive, so that two builds
# give the same bytes).
find_program(CORVEL_GZIP gzip)
set(corvel_man_outputs "")
foreach(page qzAuthTest.1 qzIsMember.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  if(CORVEL_GZIP)
    set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CORVEL_GZIP} -9nkf ${PROJECT_BINARY_DIR}/man/${page}
        DEPENDS ${PROJECT_BINARY_DIR}/man/${page} VERBATIM)
    list(APPEND corvel_man_outputs ${output})
  else()
    list(APPEND corvel_man_outputs ${PROJECT_BINARY_DIR}/man/${page})
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${corvel_man_outputs})
install(FILES ${corvel_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# --- corvel, for programs built on it -------------------------------------------

# The public headers, at the paths they are included by.
get_property(corvel_public_headers GLOBAL PROPERTY CORVEL_PUBLIC_HEADERS)
foreach(header ${corvel_public_headers})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder})
endforeach()

# The libraries from the framework down; each carries its links to those under
# it and to the system's libraries (by name) into the export.
if(WIN32)
  set(corvel_libraries corvel corvel_directory corvel_dir_adsi corvel_platform)
else()
  set(corvel_libraries corvel corvel_directory corvel_dir_ldif corvel_dir_ldap corvel_platform)
endif()
# Their headers are C++20: so is every program that includes them.
target_compile_features(corvel_platform PUBLIC cxx_std_20)
install(TARGETS ${corvel_libraries} EXPORT corvelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

set(corvel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/corvel)
install(EXPORT corvelTargets NAMESPACE corvel:: DESTINATION ${corvel_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/install/corvelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/corvelConfig.cmake INSTALL_DESTINATION ${corvel_cmake_dir})
# 0.x: a new minor version may change what the headers declare.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/corvelConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/corvelConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/corvelConfigVersion.cmake
        DESTINATION ${corvel_cmake_dir})

if(WIN32)
  return()
endif()

# corvel.pc finds its prefix from where it lies (${pcfiledir}), so that an
# installed tree may be moved.
file(RELATIVE_PATH corvel_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" corvel_pc_to_prefix "${corvel_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/install/corvel.pc.in
               ${PROJECT_BINARY_DIR}/pkgconfig/corvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/corvel.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
