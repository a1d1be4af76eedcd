// The configuration database's tables: one number and one name each, opened
// by the daemon in the order listed and closed in kDbCloseOrder.
#pragma once

#include <utility>

enum DbTable : int {
  kDbDaemonSettings = 17,  // daemon-wide switches, keyed by their variable names
  kDbCwAp = 37,            // the AP's control-block image, keyed by APID
  kDbApGroup = 38,
  kDbApModel = 39,
  kDbOfflineClient = 68,
  kDbVirtualApProfile = 99,
  kDbAcl = 127,            // the framework's ACLs, keyed by ACL number; read only here
  kDbCwApByMac = 129,
  kDbCwMark = 131,
};

inline constexpr std::pair<DbTable, const char*> kDbTables[] = {
    {kDbApModel, "ap_model"},         {kDbCwAp, "cw_ap"},
    {kDbCwMark, "cw_mark_tbl"},       {kDbCwApByMac, "cw_ap_by_mac"},
    {kDbApGroup, "cw_apgroup"},       {kDbOfflineClient, "offline_client"},
    {kDbVirtualApProfile, "vitual_ap_profile"},
};
inline constexpr DbTable kDbCloseOrder[] = {kDbApModel,   kDbApGroup,       kDbCwAp,
                                            kDbCwMark,    kDbCwApByMac,     kDbOfflineClient,
                                            kDbVirtualApProfile};
