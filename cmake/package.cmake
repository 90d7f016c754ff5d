# The Debian package (scripts/package): programs in /usr/bin, the default drum kit in
# /usr/share/zt4, the README as documentation, the systemd units and /etc/default/zt4.
include(GNUInstallDirs)
set(pkg ${CMAKE_SOURCE_DIR}/packaging)
# The package's version is the looper's own ("V3.07" gives 3.07).
file(STRINGS ${CMAKE_SOURCE_DIR}/core/constants.h version_line REGEX "zt4_version\\[\\] = ")
string(REGEX REPLACE ".*\"V([0-9.]+)\".*" "\\1" zt4_package_version "${version_line}")

install(TARGETS zt4 zt4-remote zt4-panel zt4-audio zt4-drumkit RUNTIME DESTINATION bin)
install(FILES ${drumkit_files} DESTINATION share/zt4 PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${pkg}/copyright DESTINATION share/doc/zt4)
# Debian's documentation wants the changelog compressed, reproducibly (no name, no time).
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9n -c ${pkg}/changelog > ${changelog_gz}
  DEPENDS ${pkg}/changelog)
add_custom_target(package_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} DESTINATION share/doc/zt4)
# A manual page for each program, made by help2man from its --help text (a cross build runs the
# board's program under qemu), compressed reproducibly.
if(ZT4_MANUAL_PAGES)
  find_program(HELP2MAN help2man REQUIRED)
  set(man_dir ${CMAKE_BINARY_DIR}/packaging/man)
  set(man_pages "")
  set(zt4_summary "eight-track audio looper for JACK")
  set(zt4-remote_summary "drive the ZT4 looper over its UDP control port")
  set(zt4-panel_summary "the ZT4 looper's front panel in a terminal")
  set(zt4-audio_summary "export and import the ZT4 looper's track audio")
  set(zt4-drumkit_summary "synthesise the ZT4 looper's default drum kit")
  foreach(program zt4 zt4-remote zt4-panel zt4-audio zt4-drumkit)
    set(page ${man_dir}/${program}.1.gz)
    set(runner ${man_dir}/${program})
    # help2man runs the program by its path: a script that starts it (through the emulator when
    # cross-compiling) stands in for it.
    file(GENERATE OUTPUT ${runner} CONTENT
      "#!/bin/sh\nexec ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${program}> \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
      WORLD_EXECUTE)
    add_custom_command(OUTPUT ${page}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
        --version-string=${zt4_package_version} "--name=${${program}_summary}"
        --output=${man_dir}/${program}.1 ${runner}
      COMMAND gzip -9nf ${man_dir}/${program}.1
      DEPENDS ${program}
      VERBATIM)
    list(APPEND man_pages ${page})
  endforeach()
  add_custom_target(package_manual_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION share/man/man1)
endif()
install(FILES ${pkg}/zt4.service ${pkg}/zt4-jackd.service DESTINATION /lib/systemd/system)
install(FILES ${pkg}/default DESTINATION /etc/default RENAME zt4)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zt4)
set(CPACK_PACKAGE_VERSION ${zt4_package_version})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "ZT4 developers <zt4@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "eight-track audio looper for JACK")
set(CPACK_PACKAGE_DESCRIPTION "ZT4 records, overdubs, replaces, multiplies and plays loops on eight\n tracks, in sync with each other, a built-in drum machine and MIDI clock,\n driven from MIDI and pad controllers, a UDP remote protocol and a web panel.\n The services zt4-jackd and zt4 start JACK and the looper at power-on.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "jackd2, passwd, init-system-helpers (>= 1.54)")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pkg}/postinst ${pkg}/prerm ${pkg}/postrm ${pkg}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  endif()
  # dpkg-shlibdeps finds the target's libraries through its multiarch directories.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
include(CPack)
