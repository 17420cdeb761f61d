# The name the dynamic loader finds a library by (its SONAME, "libnats.so.3.4"), for the
# libraries loaded when first used (platform/loaded_library) rather than linked.
function(qgps_soname variable name hints)
  find_library(qgps_soname_${name} ${name} HINTS ${hints} REQUIRED)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${qgps_soname_${name}} OUTPUT_VARIABLE dump
    COMMAND_ERROR_IS_FATAL ANY)
  if(NOT dump MATCHES "SONAME +([^ \n]+)")
    message(FATAL_ERROR "${qgps_soname_${name}} names no SONAME")
  endif()
  set(${variable} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
