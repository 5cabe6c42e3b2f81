# What `cmake --install` puts where (GNUInstallDirs), and the .deb that CPack
# makes from it. Included by the top-level CMakeLists.txt after the targets.
#
#   bin/                 cadmo, cadmo-probe, cadmo-qx47enc
#   lib/cadmo/           libcadmo-codec-qx47.so, found by the programs through
#                        their own folder (see CADMO_CODEC_SUBDIR)
#   share/applications/  the menu entry
#   share/metainfo/      the AppStream description
#   share/icons/hicolor/ the icon, as SVG and rendered PNG sizes

set(CADMO_APP_ID org.cadmo.Cadmo)
set(CADMO_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

foreach(program cadmo cadmo-probe cadmo-qx47enc)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
if(TARGET qx47)
    install(TARGETS qx47 LIBRARY DESTINATION ${CADMO_CODEC_INSTALL_DIR})
endif()

if(TARGET cadmo)
    install(FILES ${CADMO_DATA_DIR}/${CADMO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    configure_file(${CADMO_DATA_DIR}/${CADMO_APP_ID}.metainfo.xml.in
                   ${CMAKE_BINARY_DIR}/data/${CADMO_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/data/${CADMO_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    set(icon_svg ${CADMO_DATA_DIR}/icons/${CADMO_APP_ID}.svg)
    install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    # The PNG sizes are rendered from the SVG at build time, so the repository
    # keeps no picture twice.
    find_program(CADMO_RSVG_CONVERT rsvg-convert)
    if(CADMO_RSVG_CONVERT)
        set(pngs)
        foreach(size 16 22 24 32 48 64 128 256)
            set(png ${CMAKE_BINARY_DIR}/data/icons/${size}x${size}/${CADMO_APP_ID}.png)
            add_custom_command(
                OUTPUT ${png}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/data/icons/${size}x${size}
                COMMAND ${CADMO_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${icon_svg}
                DEPENDS ${icon_svg}
                VERBATIM)
            list(APPEND pngs ${png})
            install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
        endforeach()
        add_custom_target(cadmo_icons ALL DEPENDS ${pngs} COMMENT "Rendering the icon")
    else()
        message(WARNING "rsvg-convert (Debian: librsvg2-bin) not found: only the SVG icon is installed")
    endif()
endif()

# ---- The Debian package -------------------------------------------------------------
set(CADMO_PACKAGE_MAINTAINER "Cadmo developers <cadmo@localhost>"
    CACHE STRING "The Maintainer field of the .deb")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cadmo)
set(CPACK_PACKAGE_VENDOR "The Cadmo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AVI movie player (Tavro Player)")
# Wrapped for the control file; CPack indents each line of it.
set(CPACK_PACKAGE_DESCRIPTION
    "Tavro Player shows an AVI file's video and plays its PCM sound, with full\n\
transport, output at 8, 16 or 24 bits, and the controls of the Tavro codec.\n\
Also: cadmo-probe, which describes and decodes AVI files, and cadmo-qx47enc, the\n\
Tavro encoder.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CADMO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# The libraries the programs link come from dpkg-shlibdeps. What they load at
# run time is named here: Qt's window-system plugins (without them the window
# cannot open) live in a package no library depends on.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET cadmo)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
endif()
include(CPack)
