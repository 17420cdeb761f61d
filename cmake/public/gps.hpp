#pragma once
// quorvane-gps for C++ hosts: the GPS control, and the log replay a host may hand to GPS::Open.
// The headers beside it in this folder are the ones these two need.

#include "control/gps.hpp"
#include "platform/log_replay.hpp"
