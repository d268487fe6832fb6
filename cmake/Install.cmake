# The installed layout and the Debian package (./tm package):
#   bin/tallowmere                      the program
#   lib/tallowmere/                     the engines and the sound plug-in
#   share/tallowmere/Tallowmere.dat     the language file
#   share/applications/, share/metainfo/, share/icons/hicolor/   desktop entry, AppStream
#                                       metadata, icon (SVG and PNG sizes)
#   share/doc/tallowmere/               the read-me and the copyright file (Debian's format)
# The program finds its files from its own place (src/platform/AppPaths.h), so the prefix
# is free: /usr for the package, /usr/local or ~/.local for cmake --install.
set(TM_APP_ID io.github.tallowmere.Tallowmere)
set(TM_ICON_SIZES 16 22 24 32 48 64 128 256)
set(TM_ICON_DIR ${CMAKE_BINARY_DIR}/icons)

# The PNG icons, rendered from the SVG at build time.
add_executable(render_icon ${CMAKE_SOURCE_DIR}/data/icons/render_icon.cpp)
target_compile_options(render_icon PRIVATE ${TM_WARNINGS})
target_link_libraries(render_icon PRIVATE Qt6::Gui Qt6::Svg)
set(TM_ICON_PNGS)
foreach(size ${TM_ICON_SIZES})
    list(APPEND TM_ICON_PNGS ${TM_ICON_DIR}/${size}/${TM_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${TM_ICON_PNGS}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            $<TARGET_FILE:render_icon> ${CMAKE_SOURCE_DIR}/data/icons/${TM_APP_ID}.svg
            ${TM_ICON_DIR} ${TM_ICON_SIZES}
    DEPENDS render_icon ${CMAKE_SOURCE_DIR}/data/icons/${TM_APP_ID}.svg
    COMMENT "Rendering the program icon")
add_custom_target(icons ALL DEPENDS ${TM_ICON_PNGS})

install(PROGRAMS $<TARGET_FILE:Tallowmere> DESTINATION bin RENAME tallowmere)
foreach(module zipeng unzeng mp3dec)
    if(TARGET ${module})
        install(TARGETS ${module} LIBRARY DESTINATION lib/tallowmere)
    endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/Tallowmere.dat DESTINATION share/tallowmere)
install(FILES ${CMAKE_SOURCE_DIR}/data/${TM_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/${TM_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${TM_APP_ID}.svg
        DESTINATION share/icons/hicolor/scalable/apps)
foreach(size ${TM_ICON_SIZES})
    install(FILES ${TM_ICON_DIR}/${size}/${TM_APP_ID}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/data/copyright
        DESTINATION share/doc/tallowmere)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallowmere)
set(CPACK_PACKAGE_VENDOR "The Tallowmere developers")
set(CPACK_PACKAGE_CONTACT "The Tallowmere developers <tallowmere@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loader for Thief 1, Thief 2 and System Shock 2 fan missions")
set(CPACK_PACKAGE_DESCRIPTION
    "Tallowmere lists the fan mission archives of your mission folders, shows what each one
contains, installs it into Thief 1, Thief 2 or System Shock 2 and starts the game
(through Wine, in the Wine prefix that holds the game) or its level editor, DromEd or
ShockEd. It
takes the previous mission out first, puts back the game files it had replaced and
keeps each mission's saved games.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tallowmere.example.org)
# The libraries the program, the engines and the plug-in link, as dpkg-shlibdeps finds
# them; Wine is what starts the games, but a missions-only use works without it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own words in its boxes (Yes, No, OK, Cancel) in the interface's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine, qt6-translations-l10n")
include(CPack)
