# The programs, the sample drive, the manual pages, and the Debian package made by
# `cpack -G DEB` in the release build: everything `cmake --install` puts in the prefix.
include(GNUInstallDirs)

install(TARGETS gps-monitor nmea-simulate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/sample_drive.nmea DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane-gps)

# Manual pages and the package's changelog are installed compressed, as Debian has them.
set(QGPS_COMPRESSED)
foreach(source docs/gps-monitor.1 docs/nmea-simulate.1 packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(compressed ${PROJECT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/compressed
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND QGPS_COMPRESSED ${compressed})
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${QGPS_COMPRESSED})
install(FILES ${PROJECT_BINARY_DIR}/compressed/gps-monitor.1.gz
  ${PROJECT_BINARY_DIR}/compressed/nmea-simulate.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/compressed/changelog.gz packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane-gps)

# gps-monitor as a service: its units, the udev rule that names receivers /dev/gps0, ..., and its
# configuration (a conffile, in /etc whatever the prefix: stage an install with DESTDIR).
install(FILES packaging/systemd/gps-monitor.service packaging/systemd/gps-monitor.socket
  DESTINATION lib/systemd/system)
install(FILES packaging/60-quorvane-gps.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/gps-monitor.conf DESTINATION /etc/quorvane-gps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-gps)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quorvane-gps developers <developers@quorvane-gps.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GPS receiver control and monitor for NMEA 0183")
# The first line of a Debian description is the summary above; this is the rest.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "gps-monitor shows the live fix of a GPS receiver on a serial port, from UDP,\n"
  "TCP, gpsd, an MQTT broker or a recorded log, records tracks to KML, GPX and\n"
  "GeoJSON, and publishes fixes to MQTT, or follows a fleet there. The package\n"
  "also holds libquorvane-gps, the control for hosts in any language through its C\n"
  "interface, with its headers, CMake package and pkg-config module, and\n"
  "nmea-simulate, which writes the logs of simulated drives.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# gps-monitor --web serves Leaflet from where Debian's package keeps it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjs-leaflet")
# The library's shlibs entry and the ldconfig trigger are the package's own control files
# (CPack's generated ones call ldconfig from maintainer scripts, which Debian no longer does).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/shlibs ${PROJECT_SOURCE_DIR}/packaging/triggers
  ${PROJECT_SOURCE_DIR}/packaging/conffiles)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
