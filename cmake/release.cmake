# Installing and packaging: `cpack` in a build folder makes
# rekmo-<version>-<system>-<processor> archives: a .tar.gz from a Linux build,
# a .zip from a Windows one. They hold the programs, the README, the license,
# the third-party notice (the host code tables' source and license) and the
# bundled example, and on Linux the manual pages.
string(TOLOWER "${CMAKE_SYSTEM_NAME}" REKMO_SYSTEM)
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" REKMO_PROCESSOR)
if(REKMO_PROCESSOR STREQUAL "amd64")
  set(REKMO_PROCESSOR x86_64)
endif()

if(WIN32)
  # A folder to unpack anywhere: everything at its top.
  set(REKMO_BIN_DIR .)
  set(REKMO_DOC_DIR .)
  set(CPACK_GENERATOR ZIP)
else()
  include(GNUInstallDirs)
  set(REKMO_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(REKMO_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
endif()

install(TARGETS rekmo rekmo-inspect rekmo-copybook RUNTIME DESTINATION ${REKMO_BIN_DIR})
if(NOT WIN32)
  # Written from the README by tools/make_docs.py.
  install(FILES man/rekmo.1 man/rekmo-inspect.1 man/rekmo-copybook.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES README.md LICENSE THIRD_PARTY.md DESTINATION ${REKMO_DOC_DIR})
install(FILES examples/customers.bin examples/customers.fmt examples/customers.cpy tests/data/customers.csv
        DESTINATION ${REKMO_DOC_DIR}/examples)

set(CPACK_PACKAGE_NAME rekmo)
set(CPACK_PACKAGE_VENDOR "The Rekmo authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME rekmo-${PROJECT_VERSION}-${REKMO_SYSTEM}-${REKMO_PROCESSOR})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
