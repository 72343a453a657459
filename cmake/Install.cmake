# Install rules: the three programs, the analyzer's capture program and dissector, the launcher, the demo configuration, the desktop entry, the
# icon (SVG plus PNGs rendered from it at build time), the manual pages and the package documents.
# Included at the end of the top-level CMakeLists.txt, when the program targets exist.
include(GNUInstallDirs)

set(KORVA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KORVA_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/korvaconfig)

# Folders made inside the demo tree are 0755 whatever the umask. The parents of each destination
# still follow the umask; for the package, packaging/normalize-permissions.cmake sets those.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The launcher finds the demo as ../share/korvaconfig/demo beside its own folder.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share")
  message(WARNING "korvaconfig-launch expects bin/ and share/ side by side; with BINDIR "
                  "'${CMAKE_INSTALL_BINDIR}' and DATADIR '${CMAKE_INSTALL_DATADIR}' it will not find the demo")
endif()

# Debian's toolchain links with RELRO but binds lazily; immediate binding makes the relocation
# table read-only for the whole run (lintian: hardening-no-bindnow).
foreach(program korvaconfig korvasim korvarun korvacap)
  target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()

install(TARGETS korvaconfig korvasim korvarun RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The analyzer's plug-ins go where Debian's Wireshark and tshark look for global ones: the multiarch
# library folder, whatever the package's own libdir says. korvacap among the capture programs, the
# bus dissector among the Lua plugins.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(korva_wireshark lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark)
else()
  set(korva_wireshark lib/wireshark)
endif()
install(TARGETS korvacap RUNTIME DESTINATION ${korva_wireshark}/extcap)
install(FILES ${KORVA_PACKAGING_DIR}/wireshark/korva.lua DESTINATION ${korva_wireshark}/plugins)
# A stripped install (cpack with CPACK_STRIP_FILES, cmake --install --strip) also drops the
# compiler's version notes, as Debian's own packaging does.
if(CMAKE_OBJCOPY)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(p ${CMAKE_INSTALL_BINDIR}/korvaconfig ${CMAKE_INSTALL_BINDIR}/korvasim
                ${CMAKE_INSTALL_BINDIR}/korvarun ${korva_wireshark}/extcap/korvacap)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${p}\" COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")
endif()
install(PROGRAMS ${KORVA_PACKAGING_DIR}/korvaconfig-launch DESTINATION ${CMAKE_INSTALL_BINDIR})

# ports.xml in the demo folder is a local file that run-demo.sh and korvasim leave behind.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/demo/config
  DESTINATION ${CMAKE_INSTALL_DATADIR}/korvaconfig/demo
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  PATTERN ports.xml EXCLUDE)

install(FILES ${KORVA_PACKAGING_DIR}/korvaconfig.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KORVA_PACKAGING_DIR}/icons/korvaconfig.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# PNG icons: rendered from the SVG at build time, so that the picture is drawn in one place only.
set(KORVA_ICON_SIZES 16 32 48 64 128 256)
find_program(KORVA_RSVG_CONVERT rsvg-convert)
set(icon_outputs)
if(KORVA_RSVG_CONVERT)
  foreach(size IN LISTS KORVA_ICON_SIZES)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size})
    add_custom_command(OUTPUT ${dir}/korvaconfig.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${KORVA_RSVG_CONVERT} --width ${size} --height ${size} --format png
              --output ${dir}/korvaconfig.png ${KORVA_PACKAGING_DIR}/icons/korvaconfig.svg
      DEPENDS ${KORVA_PACKAGING_DIR}/icons/korvaconfig.svg
      COMMENT "Rendering the ${size}x${size} icon"
      VERBATIM)
    list(APPEND icon_outputs ${dir}/korvaconfig.png)
    install(FILES ${dir}/korvaconfig.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert (Debian package librsvg2-bin) not found: the PNG icons are neither built "
                  "nor installed; only the scalable icon is")
endif()

# Manual pages, compressed as Debian wants them: best compression, no name or time stamp inside,
# so that two builds give the same bytes. korvaconfig-launch shares the page of korvaconfig.
set(man_outputs)
foreach(page korvaconfig korvasim korvarun korvacap)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  add_custom_command(OUTPUT ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${KORVA_PACKAGING_DIR}/man/${page}.1 ${out}
    COMMAND gzip -9nf ${out}
    DEPENDS ${KORVA_PACKAGING_DIR}/man/${page}.1
    VERBATIM)
  list(APPEND man_outputs ${out}.gz)
endforeach()
set(launch_page ${CMAKE_CURRENT_BINARY_DIR}/man/korvaconfig-launch.1.gz)
add_custom_command(OUTPUT ${launch_page}
  COMMAND ${CMAKE_COMMAND} -E create_symlink korvaconfig.1.gz ${launch_page}
  VERBATIM)
list(APPEND man_outputs ${launch_page})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's own changelog, compressed the same way.
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E copy ${KORVA_PACKAGING_DIR}/debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
  COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
  DEPENDS ${KORVA_PACKAGING_DIR}/debian/changelog
  VERBATIM)
install(FILES ${KORVA_PACKAGING_DIR}/debian/copyright ${changelog} DESTINATION ${KORVA_DOC_DIR})
install(FILES ${KORVA_PACKAGING_DIR}/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME korvaconfig)

add_custom_target(korvaconfig_package_files ALL DEPENDS ${icon_outputs} ${man_outputs} ${changelog})
