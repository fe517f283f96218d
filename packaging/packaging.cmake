# Installation (cmake --install) and the Debian package (make package, with
# CPack): the two programs, their man pages, the systemd units, and under
# share/doc/cancela-empenhos the schema, the grants and example settings.
include(GNUInstallDirs)

set(KZ_PACKAGE cancela-empenhos)
set(KZ_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KZ_PACKAGE})
set(KZ_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Folder of the systemd units, relative to the installation prefix")
set(KZ_PACKAGE_MAINTAINER "cancela-empenhos developers <cancela-empenhos@example.com>"
    CACHE STRING "Maintainer field of the Debian package")
set(pkg ${CMAKE_SOURCE_DIR}/packaging)
set(out ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS cancela-empenhos kz-cifra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages (with the version filled in) and the changelog, compressed the
# way Debian installs them (gzip -9n: no name, no time, same bytes each time).
set(VERSION ${PROJECT_VERSION})
set(gz_files)
foreach(page cancela-empenhos.8 kz-cifra.8)
  configure_file(${pkg}/man/${page} ${out}/${page} @ONLY)
endforeach()
foreach(src ${out}/cancela-empenhos.8 ${out}/kz-cifra.8 ${pkg}/debian/changelog)
  get_filename_component(name ${src} NAME)
  add_custom_command(OUTPUT ${out}/${name}.gz
                     COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${src} ${out}/${name}.gz
                     DEPENDS ${src} VERBATIM)
  list(APPEND gz_files ${out}/${name}.gz)
endforeach()
add_custom_target(kz_package_files ALL DEPENDS ${gz_files})
install(FILES ${out}/cancela-empenhos.8.gz ${out}/kz-cifra.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

install(FILES ${pkg}/debian/copyright ${out}/changelog.gz ${CMAKE_SOURCE_DIR}/sql/schema.sql
        DESTINATION ${KZ_DOC_DIR})
if(EXISTS ${CMAKE_SOURCE_DIR}/sql/grants.sql)
  install(FILES ${CMAKE_SOURCE_DIR}/sql/grants.sql DESTINATION ${KZ_DOC_DIR})
endif()
install(FILES ${pkg}/examples/README ${pkg}/examples/default.txt ${pkg}/examples/Tarvelinko.txt
        DESTINATION ${KZ_DOC_DIR}/examples)
install(FILES ${pkg}/systemd/cancela-empenhos.service ${pkg}/systemd/cancela-empenhos@.service
              ${pkg}/systemd/cancela-empenhos.timer
        DESTINATION ${KZ_SYSTEMD_UNIT_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KZ_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KZ_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cancels sales commitments in one database transaction")
set(CPACK_PACKAGE_DESCRIPTION
    "An unattended back-office batch for a retail and accounting application\n"
    "whose data lives in a Firebird database. It cancels every sales commitment\n"
    "of the status named in its settings, reverses what each sale caused (ledger\n"
    "entries, sales statistics, receivables, cheques, stock), marks them\n"
    "cancelled and commits, all in one transaction. A systemd service runs it\n"
    "as a user of its own.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries found by dpkg-shlibdeps; adduser for the service user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# The embedded engine, for databases opened by a plain path: the package of
# the release the build is made on (firebird3.0-server-core on Debian 12,
# firebird4.0-server-core on Debian 13), the newest one installed here.
set(KZ_ENGINE_PACKAGE "" CACHE STRING
    "Embedded engine package the Debian package recommends (empty: the one installed here)")
set(kz_engine ${KZ_ENGINE_PACKAGE})
if(NOT kz_engine)
  execute_process(COMMAND dpkg-query -W "-f=\${Package} \${db:Status-Status}\n"
                          "firebird*-server-core"
                  OUTPUT_VARIABLE kz_installed ERROR_QUIET)
  string(REGEX MATCHALL "firebird[0-9.]+-server-core installed" kz_installed "${kz_installed}")
  list(TRANSFORM kz_installed REPLACE " installed$" "")
  list(SORT kz_installed COMPARE NATURAL ORDER DESCENDING)
  if(kz_installed)
    list(GET kz_installed 0 kz_engine)
  else()
    set(kz_engine firebird3.0-server-core)
  endif()
endif()
message(STATUS "The Debian package recommends ${kz_engine}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ${kz_engine})
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg}/debian/postinst ${pkg}/debian/prerm
                                       ${pkg}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
