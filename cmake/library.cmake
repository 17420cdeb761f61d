# libquorvane-gps: every part of the control in one shared library, with the C interface, and
# its installation as a CMake package and a pkg-config module.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QGPS_PARTS qgps_control qgps_kml qgps_maps qgps_nmea qgps_geo qgps_mqtt qgps_platform qgps_base)

set(QGPS_PART_OBJECTS)
foreach(part ${QGPS_PARTS})
  list(APPEND QGPS_PART_OBJECTS $<TARGET_OBJECTS:${part}>)
endforeach()
add_library(quorvane-gps SHARED control/qgps_abi.cpp ${QGPS_PART_OBJECTS})
add_library(quorvane::gps ALIAS quorvane-gps)
target_link_libraries(quorvane-gps PRIVATE asio_standalone PkgConfig::MOSQUITTO ${CMAKE_DL_LIBS})
target_link_libraries(quorvane-gps PUBLIC Threads::Threads)
target_include_directories(quorvane-gps PUBLIC
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
target_compile_definitions(quorvane-gps PUBLIC ASIO_STANDALONE)
set_target_properties(quorvane-gps PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME gps)

install(TARGETS quorvane-gps EXPORT quorvane-gpsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# What a host includes: <quorvane-gps/qgps.h> (C) and <quorvane-gps/gps.hpp> (C++), and only the
# headers gps.hpp needs beside it (they include each other by relative paths).
install(FILES control/qgps.h cmake/public/gps.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvane-gps)
foreach(header
    base/clock_reading.hpp base/replaced_file.hpp base/time_of_day.hpp
    control/face.hpp control/gps.hpp control/line_assembler.hpp control/stream_table.hpp
    kml/path_buffer.hpp kml/quorvane_kml.hpp kml/track_recorder.hpp
    maps/map_pages.hpp mqtt/mqtt_settings.hpp
    nmea/epoch_builder.hpp nmea/fix.hpp nmea/fix_properties.hpp nmea/fix_record.hpp
    nmea/gpsd_json.hpp nmea/nmea_decoder.hpp nmea/sentence_census.hpp nmea/sentences.hpp
    nmea/sentence_fields.hpp
    platform/block_source.hpp platform/line_settings.hpp platform/log_replay.hpp
    platform/platform.hpp platform/serial_comm.hpp platform/socket_comm.hpp
    platform/source_address.hpp)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvane-gps/${folder})
endforeach()
install(EXPORT quorvane-gpsTargets NAMESPACE quorvane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-gps)
configure_package_config_file(cmake/quorvane-gpsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorvane-gpsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-gps)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvane-gpsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvane-gpsConfig.cmake
  ${PROJECT_BINARY_DIR}/quorvane-gpsConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-gps)
# The module finds its prefix from where it lies, so the installed tree can be moved.
file(RELATIVE_PATH QGPS_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/quorvane-gps.pc.in ${PROJECT_BINARY_DIR}/quorvane-gps.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorvane-gps.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
