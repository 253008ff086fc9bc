# What cmake --install puts where, and what cpack makes of it:
#   native build   bin/ferrywick-cli, its man page, its bash completion; cpack: a .deb
#   Windows build  Ferrywick.exe, ferrywick-cli.exe and README.txt; cpack: a .zip
# Nothing else (test programs, libraries, benchmarks) is installed.
#
# "install" does not build everything first: it installs what is built, and scripts/package.sh
# builds exactly the programs it packs (a build folder's tests need not be built for a package).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(GNUInstallDirs)

set(CPACK_PACKAGE_VENDOR "Ferrywick")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://ferrywick.example/")
set(CPACK_PACKAGE_CONTACT "Ferrywick developers <developers@ferrywick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps two sets of folder trees in step, also between machines")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS Ferrywick ferrywick-cli RUNTIME DESTINATION .)
  # The README as a text file that Notepad shows with its line breaks.
  file(READ ${CMAKE_SOURCE_DIR}/README.md fw_readme)
  string(REPLACE "\r\n" "\n" fw_readme "${fw_readme}")
  string(REPLACE "\n" "\r\n" fw_readme "${fw_readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${fw_readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME ferrywick)
  # The files at the top of the zip: Explorer's "Extract all" makes the folder itself.
  set(CPACK_PACKAGE_FILE_NAME ferrywick-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

  if(FW_BUILD_TESTS)
    # The zip as a user unpacks it: the programs import only what Windows has, and start.
    find_program(FW_OBJDUMP NAMES ${CMAKE_OBJDUMP} x86_64-w64-mingw32-objdump REQUIRED)
    add_test(NAME release
             COMMAND bash ${CMAKE_SOURCE_DIR}/dist/release_test.sh ${CMAKE_CPACK_COMMAND}
                     ${FW_OBJDUMP} ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${PROJECT_VERSION})
    set_tests_properties(release PROPERTIES TIMEOUT 300)
  endif()
else()
  install(TARGETS ferrywick-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The man page with this version in it, compressed as Debian's are (man reads either).
  configure_file(${CMAKE_SOURCE_DIR}/docs/ferrywick-cli.1.in ${CMAKE_BINARY_DIR}/ferrywick-cli.1
                 @ONLY)
  execute_process(COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/ferrywick-cli.1
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/ferrywick-cli.1.gz
                  RESULT_VARIABLE fw_gzip_result)
  if(NOT fw_gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress the man page")
  endif()
  install(FILES ${CMAKE_BINARY_DIR}/ferrywick-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/dist/ferrywick-cli.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ferrywick-cli)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ferrywick-cli)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # ferrywick-cli_<version>_<arch>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries it links (libc, libstdc++, zlib), as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The long description; cpack puts the summary line before it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "ferrywick-cli compares a source and a target set of folder trees, synchronises
them, and saves the state of either side or the difference between them, so
that changes can be carried on removable media to a machine that shares no
connection and applied there.")

  if(FW_BUILD_TESTS)
    # The installed tree: the tool runs, and its man page and bash completion are there and work.
    add_test(NAME install
             COMMAND bash ${CMAKE_SOURCE_DIR}/dist/install_test.sh ${CMAKE_COMMAND}
                     ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    set_tests_properties(install PROPERTIES TIMEOUT 120)
  endif()
endif()

include(CPack)
