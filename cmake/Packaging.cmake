# What a Debian package of the program holds, and how CPack makes it (`cpack -G DEB`).
# Only the program is installed: the tests, benchmarks and static libraries have no
# install() rule, so they stay in the build tree whatever options the build has.
include(GNUInstallDirs)

set(IMPORTADOR_PACKAGE_NAME "importador-patrimonio")

install(TARGETS importador RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# CPack makes no menu entry for DEB: the desktop entry and the window's own icon go where the
# desktop's menu looks for them, under the name the entry gives as Icon.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${IMPORTADOR_PACKAGE_NAME}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/resources/images/window-icon.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME ${IMPORTADOR_PACKAGE_NAME}.svg)

set(IMPORTADOR_PACKAGE_MAINTAINER
  "Importador patrimônio maintainers <maintainers@users.noreply.c-seed-70b328d3.example>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME ${IMPORTADOR_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${IMPORTADOR_PACKAGE_MAINTAINER})
# The operator reads these in the package manager: Portuguese, as the window.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "importa o cadastro de patrimônio entre bancos Firebird e reduz as fotos dos bens")
set(CPACK_PACKAGE_DESCRIPTION
  "Ferramenta para a equipe de TI de um município. Numa só janela, copia os registros do
cadastro de patrimônio de um banco Firebird 3 para outro, salvando antes uma cópia do
banco de destino, e recomprime as fotos dos bens guardadas nele; ou apenas recomprime as
fotos de um banco, que abre pelo motor embutido do Firebird.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# The build the package is made from is the tested one, with debug information; the package
# carries the program without it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Qt 6, the Firebird client and libjpeg-turbo are found by dpkg-shlibdeps in the executable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the client library loads by itself at run time, which no tool sees in the executable:
# photo-only mode and the compaction open a bare path, and the client serves that through the
# embedded engine, libEngine12.so of the server's core package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "firebird3.0-server-core")
# Import mode needs the server on 127.0.0.1:3052; the utilities give gbak, with which the
# operator restores the copy made before an import; xdg-open shows the photos' folder at the
# end of a run.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-server, firebird3.0-utils, xdg-utils")

include(CPack)
