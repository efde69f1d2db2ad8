# What an installed Hoardly needs besides the program and its resources (the icons,
# the man page, the AppStream metainfo), and the Debian package made of all of it:
# `scripts/package` runs cpack on a build folder.

# The PNG icons are drawn from the one SVG at build time.
find_program(RSVG_CONVERT rsvg-convert)
set(HOARDLY_ICON_SIZES 16 22 24 32 48 64 128 256)
set(icon_files)
if(RSVG_CONVERT)
  foreach(size ${HOARDLY_ICON_SIZES})
    set(png ${PROJECT_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/hoardly.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icons/hicolor/${size}x${size}/apps
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${PROJECT_SOURCE_DIR}/res/hoardly.svg
      DEPENDS ${PROJECT_SOURCE_DIR}/res/hoardly.svg
      COMMENT "Drawing the ${size}x${size} icon")
    list(APPEND icon_files ${png})
  endforeach()
  install(DIRECTORY ${PROJECT_BINARY_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
else()
  message(WARNING "rsvg-convert (librsvg2-bin) is missing: the PNG icons are not made")
endif()

# Debian ships man pages compressed, without a time stamp in the file.
set(man_page ${PROJECT_BINARY_DIR}/hoardly.1.gz)
add_custom_command(OUTPUT ${man_page}
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/hoardly.1 > ${man_page}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/hoardly.1
  COMMENT "Compressing the man page")
add_custom_target(hoardly_desktop_files ALL DEPENDS ${icon_files} ${man_page})

install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.hoardly.Hoardly.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hoardly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Hoardly")
set(CPACK_PACKAGE_CONTACT "Hoardly maintainers <maintainers@hoardly.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep text clips with a double Ctrl+C, tag them and find them again")
set(CPACK_PACKAGE_DESCRIPTION "Hoardly hoards text clips (quotes). It lives in the system tray: press the
copy key twice in any program and the copied text becomes a new quote. Quotes are
labelled with tags, found by their tags, copied back and exported to HTML.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://hoardly.invalid/")
# The libraries the program links come from dpkg-shlibdeps; the web engine's helper
# process and the X11 platform are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6webenginecore6-bin, libqt6gui6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_PACKAGE_FILE_NAME "hoardly_${PROJECT_VERSION}_amd64")
include(CPack)
