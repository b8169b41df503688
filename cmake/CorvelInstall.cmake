# Installation and the Debian package.
#
#   cmake --install <build> [--prefix DIR]   the programs in bin, the logon
#                                             plug-in in the library directory,
#                                             the manual pages in share/man/man1
#   (cd <build> && cpack -G DEB)             qzauthtest_<version>_<arch>.deb
#
# The programs load the plug-in by its bare name: first from their own
# directory, then through the dynamic loader's normal search, which finds it
# in the library directory (/usr/lib in the package).
include(GNUInstallDirs)

install(TARGETS qzAuthTest qzIsMember RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET qzSSPI)
  install(TARGETS qzSSPI LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# Manual pages, compressed as Debian installs them (-n: no name or time in
# the archive, so that two builds give the same bytes).
find_program(CORVEL_GZIP gzip)
set(corvel_man_pages qzAuthTest.1 qzIsMember.1)
set(corvel_man_outputs "")
foreach(page ${corvel_man_pages})
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  if(CORVEL_GZIP)
    set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PROJECT_BINARY_DIR}/man/${page}
        COMMAND ${CORVEL_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}
        DEPENDS ${source} VERBATIM)
    list(APPEND corvel_man_outputs ${output})
  else()
    list(APPEND corvel_man_outputs ${source})
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${corvel_man_outputs})
install(FILES ${corvel_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME qzauthtest)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "corvel maintainers <maintainers@corvel.example>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "Active Directory group membership test, for people and for scripts")
  # CPack puts the summary above this as the first line.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "qzAuthTest tells whether a user is a member of an Active Directory group,\n"
      "directly or through nested groups, against a domain controller over LDAP\n"
      "and Kerberos or against an LDIF export. qzIsMember answers the same\n"
      "question for scripts by its exit status, with the path found, JSON answers\n"
      "and batches of questions.")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # The libraries the programs and the plug-in link, found by dpkg-shlibdeps;
  # SASL's Kerberos mechanism is loaded by libsasl2 at run time, so no link
  # names it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsasl2-modules-gssapi-mit")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "krb5-user")
  # The package installs under /usr whatever prefix the build was made for.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  include(CPack)
endif()
