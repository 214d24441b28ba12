# What `cmake --install` puts under the prefix (/usr/local by default; the package uses /usr):
# the programs in bin/, the default set (pictures, font, settings, demo clips) in share/loopmixer/,
# the desktop entry, icons, AppStream metadata, man pages and licences. The programs find the
# default set relative to their own place (bin/../share/loopmixer), so the tree works wherever it
# lands.
include(GNUInstallDirs)
set(DEFAULT_SET_DIR ${CMAKE_INSTALL_DATADIR}/loopmixer)

# loopmixer finds its helper programs (the projector) beside itself.
install(TARGETS loopmixer loopmixer-clip loopmixer-projector RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET loopmixer-encode)
  install(TARGETS loopmixer-encode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The default set, file by file from what the build drew and wrote (never whatever else a developer
# left in build/run: logs, settings files, clips of their own). The playlists file is the one the
# build wrote there; scripts/package.sh builds in a folder of its own, where nobody edited it.
set(default_data)
foreach(f textureUI.png home.png logo-tarnobelli.png abxy.png volter volter-LICENCE playlists.xml)
  list(APPEND default_data ${RUN_DIR}/data/${f})
endforeach()
install(FILES ${default_data} DESTINATION ${DEFAULT_SET_DIR}/data)
install(FILES assets/default-prefs.xml DESTINATION ${DEFAULT_SET_DIR}/data RENAME prefs.xml)
set(default_clips)
foreach(c plasma.q18 bars.q17 orb.q18 checker.q17 fields.q18)
  list(APPEND default_clips ${RUN_DIR}/videos/${c})
endforeach()
install(FILES ${default_clips} DESTINATION ${DEFAULT_SET_DIR}/videos)
if(TARGET footage)
  install(FILES ${RUN_DIR}/videos/mandelbrot.q18 ${RUN_DIR}/videos/sierpinski.q18
          DESTINATION ${DEFAULT_SET_DIR}/videos)
endif()

# The desktop: entry, metadata, the icon at the usual sizes (drawn by make-pictures) and scalable.
install(FILES assets/desktop/loopmixer.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/desktop/loopmixer.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES assets/loopmixer.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(ICON_OUTPUTS)
foreach(size 16 24 32 48 64 128 256 512)
  set(icon ${CMAKE_BINARY_DIR}/icons/${size}/loopmixer.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}
    COMMAND make-pictures --icon ${size} ${icon}
    DEPENDS make-pictures)
  list(APPEND ICON_OUTPUTS ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(icons ALL DEPENDS ${ICON_OUTPUTS})

# A man page per program, made from its --help and --version (help2man) and the sections of
# docs/man/; without help2man the tree is installed without them.
find_program(HELP2MAN_EXE help2man)
if(HELP2MAN_EXE)
  set(MAN_OUTPUTS)
  set(man_programs loopmixer loopmixer-clip loopmixer-projector)
  if(TARGET loopmixer-encode)
    list(APPEND man_programs loopmixer-encode)
  endif()
  foreach(program ${man_programs})
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env LOOPMIXER_PROGRAM=$<TARGET_FILE:${program}>
              ${HELP2MAN_EXE} --no-info --section=1
              --include=${CMAKE_SOURCE_DIR}/docs/man/${program}.h2m --output=${page}
              ${CMAKE_SOURCE_DIR}/docs/man/help-of.sh
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/docs/man/${program}.h2m)
    list(APPEND MAN_OUTPUTS ${page})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${MAN_OUTPUTS})
  install(FILES ${MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES README.md assets/font-licence.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})
