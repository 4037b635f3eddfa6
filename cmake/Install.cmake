# Where `cmake --install` and the Debian package put what Kestrel Loader
# ships: the programs, their manual pages, the desktop entry and icons, the
# udev rule and the demo firmware. Included once, at the end of the top-level
# CMakeLists.txt, so that every program target is known here; a program that
# is not part of this build is left out, with its page.
include(GNUInstallDirs)

# Not CMAKE_INSTALL_LIBDIR: udev looks in lib/udev/rules.d whatever the
# architecture's library directory is.
set(KESTREL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Directory of the udev rule, relative to the install prefix")

set(KESTREL_PROGRAMS kestrel-loader kestrel-station kestrel-flash kestrel-box)
set(KESTREL_INSTALLED_PROGRAMS "")
foreach(program IN LISTS KESTREL_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND KESTREL_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()

if(TARGET kestrel-loader)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrel-loader.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # packaging/icons/hicolor/<size>/apps/kestrel-loader.png
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/packaging/icons/hicolor
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
    FILES_MATCHING PATTERN "*.png")
endif()

if(TARGET kestrel-station)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrel-station.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/packaging/60-kestrel.rules DESTINATION ${KESTREL_UDEV_RULES_DIR})

# kestrel-flash's completions, each where its shell looks: bash-completion's
# completionsdir and fish's vendor_completions.d below any prefix, as both
# search every data directory; zsh searches vendor-completions (Debian's place
# for packages) below /usr only and site-functions below any other prefix, so
# its place is chosen when the install runs, when the prefix is known.
if(TARGET kestrel-flash)
  set(completions ${CMAKE_SOURCE_DIR}/packaging/completions)
  install(FILES ${completions}/kestrel-flash.bash RENAME kestrel-flash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${completions}/kestrel-flash.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
  install(CODE "
    set(zsh_dir site-functions)
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(zsh_dir vendor-completions)
    endif()
    file(INSTALL \"${completions}/_kestrel-flash\"
      DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/zsh/\${zsh_dir}\")")
endif()

# What Debian asks of every package's documents: the licence in its
# machine-readable copyright file, and the changelog, compressed.
set(KESTREL_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${KESTREL_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/debian/changelog ${CMAKE_BINARY_DIR}/packaging/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(kestrel-changelog ALL DEPENDS ${KESTREL_CHANGELOG})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${KESTREL_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/samples/kestrel-demo.mot ${CMAKE_SOURCE_DIR}/samples/kestrel-demo.bin
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# Manual pages: man/<program>.1 gets the project's version in its footer,
# then is compressed as Debian keeps its pages.
find_program(KESTREL_GZIP gzip REQUIRED)
set(KESTREL_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(KESTREL_MAN_PAGES "")
set(KESTREL_MAN_ARCHIVES "")
foreach(program IN LISTS KESTREL_INSTALLED_PROGRAMS)
  set(page ${KESTREL_MAN_DIR}/${program}.1)
  set(archive ${KESTREL_MAN_DIR}/gz/${program}.1.gz)
  configure_file(${CMAKE_SOURCE_DIR}/man/${program}.1 ${page} @ONLY)
  add_custom_command(OUTPUT ${archive}
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${KESTREL_MAN_DIR}/gz/${program}.1
    COMMAND ${KESTREL_GZIP} -9nf ${KESTREL_MAN_DIR}/gz/${program}.1
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${program}(1)"
    VERBATIM)
  list(APPEND KESTREL_MAN_PAGES ${page})
  list(APPEND KESTREL_MAN_ARCHIVES ${archive})
endforeach()
add_custom_target(kestrel-man-pages ALL DEPENDS ${KESTREL_MAN_ARCHIVES})
install(FILES ${KESTREL_MAN_ARCHIVES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)

if(BUILD_TESTING)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/packaging ${CMAKE_BINARY_DIR}/tests/packaging)
endif()
