# What `cmake --install` puts where, and the packages CPack makes of it: a .deb on Linux, a .zip
# per Windows architecture. Only the two programs and their documentation are installed: the
# libraries are static and linked into them, and tests, benchmarks and fuzz targets stay in the
# build tree.
include(GNUInstallDirs)

set(KYVEX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  # A Windows user unpacks the zip and double-clicks: the programs and the README sit at the top
  # of the unpacked folder, and the README is .txt so that Notepad opens it.
  set(KYVEX_INSTALL_BINDIR .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
else()
  set(KYVEX_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  # Named after the package, not the CMake project (GNUInstallDirs' DOCDIR would say "Kyvex").
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kyvex)
endif()

install(TARGETS kyvex_cli RUNTIME DESTINATION ${KYVEX_INSTALL_BINDIR})
# The window exists where Qt is built (Linux) and always on Windows (plain Win32 controls).
if(TARGET vorlan-install)
  install(TARGETS vorlan-install RUNTIME DESTINATION ${KYVEX_INSTALL_BINDIR})
  if(NOT WIN32)
    install(FILES ${KYVEX_PACKAGING_DIR}/vorlan-install.desktop
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  endif()
endif()

if(NOT WIN32)
  # Debian installs manual pages gzipped with -9n (no name or time stamp, so the package is the
  # same on every build). Done at configure time so that installing needs no extra build target;
  # an edit of a page configures again.
  set(KYVEX_MANPAGES kyvex.1)
  if(TARGET vorlan-install)
    list(APPEND KYVEX_MANPAGES vorlan-install.1)
  endif()
  find_program(KYVEX_GZIP gzip)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
  foreach(page IN LISTS KYVEX_MANPAGES)
    set(kyvex_page_source ${KYVEX_PACKAGING_DIR}/${page})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kyvex_page_source})
    if(KYVEX_GZIP)
      set(kyvex_page_packed ${CMAKE_CURRENT_BINARY_DIR}/packaging/${page}.gz)
      execute_process(COMMAND ${KYVEX_GZIP} -9n -c ${kyvex_page_source} OUTPUT_FILE ${kyvex_page_packed} RESULT_VARIABLE kyvex_gzip_rc)
      if(NOT kyvex_gzip_rc EQUAL 0)
        message(FATAL_ERROR "gzip of ${kyvex_page_source} failed: ${kyvex_gzip_rc}")
      endif()
      install(FILES ${kyvex_page_packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
      install(FILES ${kyvex_page_source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
endif()

set(KYVEX_PACKAGE_MAINTAINER "Kyvex System Information developers <kyvex@example.org>"
    CACHE STRING "Maintainer field of the Debian package (Name <address>)")

set(CPACK_PACKAGE_NAME kyvex)
set(CPACK_PACKAGE_VENDOR "Kyvex System Information")
set(CPACK_PACKAGE_CONTACT "${KYVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "hardware information: processor, SMBIOS tables, storage devices")
# Lines of the Debian description stay within 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Kyvex System Information identifies the processor through CPUID, decodes the"
  "machine's SMBIOS firmware tables, probes the storage devices and drives, and"
  "saves all of it into OLE compound (structured-storage) files that it can show"
  "again on any machine. The kyvex command prints the information as text or"
  "JSON; vorlan-install shows it in a desktop window.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# Build trees keep their debugging symbols for developers; packages carry stripped programs.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME kyvex)
  # kyvex_2.0.0.2_amd64.deb: Debian's own naming, architecture included.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps finds the libraries the programs link (libc, libstdc++, Qt 6); the Qt
  # platform plugins they load at run time come with libqt6gui6, which it finds too.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The tools whose recordings of other machines kyvex decodes (--dump-bin, --cpuid-dump,
  # --identify).
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "dmidecode, cpuid, hdparm")
endif()

# `package_source` packs the checkout: never the build trees inside it, nor Git's objects.
set(CPACK_SOURCE_GENERATOR TGZ)
string(REGEX REPLACE "([][+.*?^$()|\\])" "\\\\\\1" kyvex_source_regex "${PROJECT_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES "^${kyvex_source_regex}/(\\.git|build)/" "/__pycache__/" "\\.swp$"
    "^${kyvex_source_regex}/compile_commands\\.json$")

include(CPack)
