// What an AP makes of the controller's WLAN and station requests, as one
// line for the simulator's log.
#pragma once

#include <string>

#include "wtp-sim/wtp_messages.h"

namespace capwap::sim {

// "WLAN 2 on radio 1 added: SSID 'demo'", "station 02:00:00:00:00:42
// added on radio 1", ...; one clause per WLAN or station element.
std::string DescribeWlanRequest(const ControlMessage& msg);

}  // namespace capwap::sim
