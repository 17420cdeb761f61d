#pragma once
// quorvane-gps for C++ hosts: the GPS control, the log replay a host may hand to GPS::Open, and
// an epoch's gpsd JSON. The headers beside it in this folder are the ones these need.

#include "control/gps.hpp"
#include "nmea/gpsd_json.hpp"
#include "platform/log_replay.hpp"
