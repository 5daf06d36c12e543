# Installation and the Debian packages.
#
# The client looks for its sounds in "audio" beside the executable, so the program and that folder
# are installed together under lib/tarvik and bin/tarvik is a link to it (the program resolves the
# link when it looks for its own folder). velm-platform is a package of its own: a shop never needs
# it, a developer or a demo does.

include(GNUInstallDirs)

set(TARVIK_INSTALL_DIR lib/tarvik)

install(TARGETS tarvik RUNTIME DESTINATION ${TARVIK_INSTALL_DIR} COMPONENT client)
install(FILES ${TARVIK_SOUNDS} DESTINATION ${TARVIK_INSTALL_DIR}/audio COMPONENT client)
install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${TARVIK_INSTALL_DIR}/tarvik
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarvik\" SYMBOLIC)"
    COMPONENT client)
install(FILES resources/linux/tarvik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
install(FILES resources/linux/io.velm.Tarvik.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT client)
foreach(size 48 64 128 256)
    install(FILES resources/linux/icons/tarvik-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tarvik.png COMPONENT client)
endforeach()

install(TARGETS velm-platform RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT platform)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VENDOR Velm)
set(CPACK_PACKAGE_CONTACT "Tarvik developers <tarvik@velm.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client platform)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tarvik)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION net)
# The sounds are MP3 and WAV files played through GStreamer; the Chinese text needs a CJK font.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, libqt5multimedia5-plugins, fonts-wqy-microhei | fonts-noto-cjk")
# The first line of a description is the package's summary.
set(CPACK_DEBIAN_CLIENT_DESCRIPTION
    "Order desk for the staff of Velm shops\nKeeps a shop's orders in step with the Velm platform, rings on new orders, finishes orders with the buyer's order password, prints receipts and shows income.")
set(CPACK_DEBIAN_PLATFORM_PACKAGE_NAME velm-platform)
set(CPACK_DEBIAN_PLATFORM_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_PLATFORM_DESCRIPTION
    "Local Velm platform for the Tarvik client\nThe platform's HTTP API with an SQLite store, a demo shop, simulated buyers and an admin API, for demonstrating and testing the Tarvik client.")
include(CPack)
