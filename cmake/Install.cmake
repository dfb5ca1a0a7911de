# What `cmake --install` puts where, and the Debian package built from it with cpack.
include(GNUInstallDirs)

set(STAMPWRIGHT_PROGRAMS stampwright stampwright-unit-sim stampwright-tool)
foreach(program ${STAMPWRIGHT_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  else()
    message(WARNING "${program} is not built in this configuration; it is left out of the install")
  endif()
endforeach()

set(PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${PACKAGING_DIR}/stampwright.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${PACKAGING_DIR}/stampwright.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stampwright)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Stampwright developers")
set(CPACK_PACKAGE_CONTACT "Stampwright developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Production-line programming station for HomePlug AV powerline units")
# One line of the control file per line here, as Debian wants them short.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Finds a PX300 or PX100 unit cabled to one of the PC's Ethernet adapters,"
  "reads its parameter module and burns the unit's MAC, device key and"
  "network key. Also holds stampwright-unit-sim, a simulated unit for tests,"
  "and stampwright-tool, an engineer's companion for the MAC database and"
  "module images.")
# The package installs under /usr (the DEB generator's own prefix, whatever the developer's
# CMAKE_INSTALL_PREFIX is), where the maintainer scripts look. CPACK_PACKAGING_INSTALL_PREFIX
# is left unset: set here it would also move the source package's files under usr/.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Stampwright developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; setcap for the postinst is added by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PACKAGING_DIR}/debian/postinst ${PACKAGING_DIR}/debian/prerm)
# Maintainer scripts 0755 and control files 0644, whatever the checkout's modes are.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# `package_source` comes with CPack; keep build trees and git out of it.
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/out/")

include(CPack)
