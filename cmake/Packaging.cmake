# Installation and the Debian packages.
#
# The program goes to bin/, its sounds to <datadir>/tarvik/audio (app/sound.h: the client finds
# them there from its own folder, or from the data folder this build was configured for). The
# Debian packages install to /usr, so scripts/package.sh configures the build tree with
# CMAKE_INSTALL_PREFIX=/usr. velm-platform is a package of its own: a shop never needs it, a
# developer or a demo does.

install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(FILES ${TARVIK_SOUNDS} DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvik/audio COMPONENT client)
install(TARGETS velm-platform RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT platform)
# A stripped install (CPack strips) also drops the compiler's ident strings, as Debian's own
# packages do; CMake's strip keeps the .comment section.
if(CMAKE_OBJCOPY)
    foreach(pair tarvik:client velm-platform:platform)
        string(REPLACE ":" ";" pair ${pair})
        list(GET pair 0 program)
        list(GET pair 1 component)
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                    COMMAND_ERROR_IS_FATAL ANY)
            endif()" COMPONENT ${component})
    endforeach()
endif()

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

set(CPACK_PACKAGE_CONTACT "Tarvik developers <tarvik@velm.invalid>")
set(TARVIK_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR}/tarvik)

# The desktop entry is named after the AppStream id; the AppStream release is this version.
install(FILES resources/linux/io.velm.Tarvik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT client)
configure_file(resources/linux/io.velm.Tarvik.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/linux/io.velm.Tarvik.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/linux/io.velm.Tarvik.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT client)
foreach(size 48 64 128 256)
    install(FILES resources/linux/icons/tarvik-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tarvik.png COMPONENT client)
endforeach()

# Man pages and the package changelog carry this version and are installed compressed, as Debian
# wants them (gzip -n: no name or time stamp inside, so a rebuild gives the same bytes).
find_program(GZIP_PROGRAM gzip REQUIRED)
execute_process(COMMAND date -u -R -d "${TARVIK_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TARVIK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(TARVIK_GZIPPED)
foreach(page tarvik.1 velm-platform.1)
    configure_file(docs/man/${page}.in ${CMAKE_CURRENT_BINARY_DIR}/man/${page} @ONLY)
    list(APPEND TARVIK_GZIPPED man/${page})
endforeach()
configure_file(resources/linux/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/linux/changelog @ONLY)
list(APPEND TARVIK_GZIPPED linux/changelog)
set(gzipped_files)
foreach(file ${TARVIK_GZIPPED})
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
        COMMAND ${GZIP_PROGRAM} -9nf -k ${CMAKE_CURRENT_BINARY_DIR}/${file}
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file}
        VERBATIM)
    list(APPEND gzipped_files ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(tarvik_docs ALL DEPENDS ${gzipped_files})

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/tarvik.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT client)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/velm-platform.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT platform)
# Each package carries the machine-readable copyright file and the changelog in its doc folder.
foreach(pair client:tarvik platform:velm-platform)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES resources/linux/copyright ${CMAKE_CURRENT_BINARY_DIR}/linux/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VENDOR Velm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client platform)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarvik)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tarvik)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION net)
# The sounds are MP3 and WAV files played through GStreamer; the Chinese text needs a CJK font.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, libqt5multimedia5-plugins, fonts-wqy-microhei | fonts-noto-cjk")
# QtKeychain (found by dpkg-shlibdeps) reaches the Secret Service through libsecret, loaded at run
# time; without it remembered passwords stay in users.xml.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "libsecret-1-0")
# The first line of a description is the package's summary; the lines after it are the extended
# description, at most 80 characters each, each starting with a space (CPack adds the space).
set(CPACK_DEBIAN_CLIENT_DESCRIPTION [=[Order desk for the staff of Velm shops
Tarvik keeps a shop's orders in step with the Velm mall and delivery
platform: it groups them by status, rings when a new order arrives,
finishes orders with the buyer's order password, answers reviews,
prints receipts, confirms orders and shows the shop's income.]=])
set(CPACK_DEBIAN_PLATFORM_PACKAGE_NAME velm-platform)
set(CPACK_DEBIAN_PLATFORM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PLATFORM_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_PLATFORM_DESCRIPTION [=[Local Velm platform for demos and tests of Tarvik
This is not the Velm platform shops use: it is a local stand-in for
demonstrating and testing the Tarvik client on one machine. It answers
the platform's HTTP API from an SQLite database, holds a demo shop, lets
simulated buyers order and review, and has an admin API to create orders
and inject faults.]=])
include(CPack)
