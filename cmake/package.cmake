# The programs, the sample drive, the manual pages, and the Debian packages made by
# `cpack -G DEB` in the release build: everything `cmake --install` puts in the prefix, in three
# packages (components): libquorvane-gps5 (library), libquorvane-gps-dev (development) and
# quorvane-gps (daemon: the programs and the service).
include(GNUInstallDirs)

set(QGPS_LIBRARY_PACKAGE libquorvane-gps${PROJECT_VERSION_MAJOR})
install(TARGETS gps-monitor nmea-simulate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT daemon)
install(FILES data/sample_drive.nmea DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane-gps
  COMPONENT daemon)

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
  ${PROJECT_BINARY_DIR}/compressed/nmea-simulate.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT daemon)
# Each package carries its copyright and changelog under its own name.
foreach(component_and_package daemon:quorvane-gps library:${QGPS_LIBRARY_PACKAGE}
    development:libquorvane-gps-dev)
  string(REPLACE ":" ";" pair ${component_and_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${PROJECT_BINARY_DIR}/compressed/changelog.gz packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# gps-monitor as a service: its units, the udev rule that names receivers /dev/gps0, ..., and its
# configuration (a conffile, in /etc whatever the prefix: stage an install with DESTDIR).
install(FILES packaging/systemd/gps-monitor.service packaging/systemd/gps-monitor.socket
  packaging/systemd/gps-monitor-web.socket
  DESTINATION lib/systemd/system COMPONENT daemon)
install(FILES packaging/60-quorvane-gps.rules DESTINATION lib/udev/rules.d COMPONENT daemon)
install(FILES packaging/gps-monitor.conf DESTINATION /etc/quorvane-gps COMPONENT daemon)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-gps)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quorvane-gps developers <developers@quorvane-gps.invalid>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development daemon)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${QGPS_LIBRARY_PACKAGE})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "GPS receiver control for NMEA 0183 (shared library)
libquorvane-gps reads NMEA 0183 from a serial port, UDP, TCP, gpsd, a log,
MQTT or NATS, decodes it into a typed fix per reporting cycle, records tracks,
and serves gpsd's protocol, chrony's clock segment and a live map, for hosts
in C++, C and Python.")
# The library's shlibs entry and the ldconfig trigger are its own control files (CPack's
# generated ones call ldconfig from maintainer scripts, which Debian no longer does).
# libmosquitto, libnats and libsystemd are loaded when first used, not linked
# (platform/loaded_library.hpp): dpkg-shlibdeps cannot see them, so they are named here, as the
# packages of their sonames.
set(QGPS_LOADED_LIBRARY_PACKAGES "libmosquitto1, libnats3.4, libsystemd0")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${QGPS_LOADED_LIBRARY_PACKAGES}")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/shlibs ${PROJECT_SOURCE_DIR}/packaging/triggers)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquorvane-gps-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "${QGPS_LIBRARY_PACKAGE} (= ${PROJECT_VERSION}), libasio-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "GPS receiver control for NMEA 0183 (development files)
The headers of libquorvane-gps (C and C++), its CMake package
(find_package(quorvane-gps)) and its pkg-config module.")

set(CPACK_DEBIAN_DAEMON_PACKAGE_NAME quorvane-gps)
set(CPACK_DEBIAN_DAEMON_PACKAGE_SECTION science)
# gps-monitor --web serves Leaflet from where Debian's package keeps it.
set(CPACK_DEBIAN_DAEMON_PACKAGE_DEPENDS "libjs-leaflet, ${QGPS_LOADED_LIBRARY_PACKAGES}")
set(CPACK_DEBIAN_DAEMON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)
set(CPACK_COMPONENT_DAEMON_DESCRIPTION "GPS receiver monitor and service for NMEA 0183
gps-monitor shows the live fix of a GPS receiver on a serial port, from UDP,
TCP, gpsd, an MQTT broker, NATS JetStream or a recorded log, records tracks to
KML, GPX and GeoJSON, serves gpsd's protocol, chrony's clock segment and a
live map, and publishes fixes or follows a fleet. It runs as a systemd service
(socket activation on gpsd's port, a udev rule naming receivers /dev/gps0).
nmea-simulate writes the logs of simulated drives.")
include(CPack)
