#pragma once
// quorvane-gps for C++ hosts: the GPS control (with the fix, and the interfaces of the sources
// and sinks a host may add) and an epoch's gpsd JSON. The headers beside it in this folder are
// the ones these need.

#include "control/gps.hpp"
#include "sinks/gpsd_json.hpp"
