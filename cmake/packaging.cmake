# The Debian package: what goes where under /usr, and CPack's DEB generator.
# Only a packaging build (VISTREL_PACKAGE=ON, as scripts/package makes it)
# needs the tools that make the icons and compress the documents.

include(GNUInstallDirs)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GZIP gzip REQUIRED)

set(VISTREL_APP_ID org.example.vistrel.Vistrel)
set(VISTREL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VISTREL_GENERATED ${CMAKE_BINARY_DIR}/package-files)

# PNG icons for the themes and menus that take no SVG.
set(VISTREL_ICON_FILES)
foreach(size 48 256)
  set(png ${VISTREL_GENERATED}/icons/${size}x${size}/vistrel.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_GENERATED}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${PROJECT_SOURCE_DIR}/src/ui/icons/vistrel.svg
    DEPENDS ${PROJECT_SOURCE_DIR}/src/ui/icons/vistrel.svg
    VERBATIM)
  list(APPEND VISTREL_ICON_FILES ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Compressed without a time stamp or name inside, so that the package is the
# same from one build to the next.
set(VISTREL_GZIPPED)
foreach(pair "vistrel.1|vistrel.1.gz" "changelog.Debian|changelog.Debian.gz")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${VISTREL_GENERATED}/${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_GENERATED}
    COMMAND ${GZIP} -9nc ${VISTREL_PACKAGING_DIR}/${source} > ${VISTREL_GENERATED}/${target}
    DEPENDS ${VISTREL_PACKAGING_DIR}/${source}
    VERBATIM)
  list(APPEND VISTREL_GZIPPED ${VISTREL_GENERATED}/${target})
endforeach()
add_custom_target(vistrel_package_files ALL DEPENDS ${VISTREL_ICON_FILES} ${VISTREL_GZIPPED})

install(FILES ${VISTREL_GENERATED}/vistrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VISTREL_PACKAGING_DIR}/${VISTREL_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VISTREL_PACKAGING_DIR}/copyright ${VISTREL_GENERATED}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vistrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "The Vistrel developers <vistrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "webcam watcher that keeps a picture whenever something moves")
# Lines of at most 80 characters, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vistrel shows one camera in a small window and measures the motion between"
  "the last two frames. It saves JPEG pictures all the time or only while"
  "something moves, into one folder per day and one per recording episode,"
  "optionally stamped with the date and time."
  "."
  "Each picture can be uploaded to an FTP, FTPS or SFTP server as soon as it"
  "is taken, so that the evidence survives even when the computer is stolen."
  "Pictures waiting to be sent are kept across restarts, and the program can"
  "keep free space on its disk by deleting its oldest pictures.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://vistrel.example.org/vistrel/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not name: the camera's GStreamer elements (appsink,
# videoconvert, jpegdec, v4l2src), Qt's platform plugins and its SVG icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
