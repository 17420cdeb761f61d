# libquorvane-gps: every part of the control in one shared library, with the C interface, and
# its installation as a CMake package and a pkg-config module.
# The library lies in Debian's multiarch folder (lib/x86_64-linux-gnu) whatever the prefix, as
# the packages install it; a folder given on the command line stays.
if(CMAKE_LIBRARY_ARCHITECTURE AND
   (NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR} OR "$CACHE{CMAKE_INSTALL_LIBDIR}" STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH
    "Object code libraries (lib/ARCHITECTURE)" FORCE)
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QGPS_PARTS qgps_control qgps_sinks qgps_maps qgps_nmea qgps_geo qgps_mqtt qgps_nats qgps_platform
  qgps_base qgps_receiver qgps_sources qgps_web_transport)

set(QGPS_PART_OBJECTS)
foreach(part ${QGPS_PARTS})
  list(APPEND QGPS_PART_OBJECTS $<TARGET_OBJECTS:${part}>)
endforeach()
add_library(quorvane-gps SHARED control/qgps_abi.cpp ${QGPS_PART_OBJECTS})
add_library(quorvane::gps ALIAS quorvane-gps)
target_link_libraries(quorvane-gps PRIVATE asio_standalone qgps_mosquitto_api qgps_nats_api
  nlohmann_json::nlohmann_json util ${CMAKE_DL_LIBS})
target_link_libraries(quorvane-gps PUBLIC Threads::Threads)
target_include_directories(quorvane-gps PUBLIC
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
target_compile_definitions(quorvane-gps PUBLIC ASIO_STANDALONE ASIO_DISABLE_STD_ALIGNED_ALLOC)
set_target_properties(quorvane-gps PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME gps)

# Three packages, as Debian has a library and its daemon: the shared library alone (named after
# its soname), what a host builds with (-dev), and the programs with the service's files.
install(TARGETS quorvane-gps EXPORT quorvane-gpsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
# What a host includes: <quorvane-gps/qgps.h> (C) and <quorvane-gps/gps.hpp> (C++), and only the
# headers gps.hpp names beside it (the fix, the sink and source interfaces; they include each
# other by relative paths). Everything else stays behind the control's private parts.
install(FILES control/qgps.h cmake/public/gps.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvane-gps COMPONENT development)
set(QGPS_PUBLIC_HEADERS
  base/clock_reading.hpp base/time_of_day.hpp base/version.hpp
  control/face.hpp control/gps.hpp
  nmea/fix.hpp nmea/fix_properties.hpp nmea/fix_record.hpp sinks/gpsd_json.hpp
  nmea/sentence_census.hpp nmea/sentences.hpp
  platform/platform.hpp
  receiver/sinks.hpp
  sources/block_source.hpp sources/source_settings.hpp)
foreach(header ${QGPS_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvane-gps/${folder}
    COMPONENT development)
endforeach()
install(EXPORT quorvane-gpsTargets NAMESPACE quorvane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-gps COMPONENT development)
configure_package_config_file(cmake/quorvane-gpsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorvane-gpsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-gps)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorvane-gpsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorvane-gpsConfig.cmake
  ${PROJECT_BINARY_DIR}/quorvane-gpsConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quorvane-gps COMPONENT development)
# The module finds its prefix from where it lies, so the installed tree can be moved.
file(RELATIVE_PATH QGPS_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/quorvane-gps.pc.in ${PROJECT_BINARY_DIR}/quorvane-gps.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorvane-gps.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
