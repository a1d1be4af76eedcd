#include "registry/wtpcb.h"

CW_WTPCB::CW_WTPCB() {
  for (LIST_NODE* link : {&ip_link, &mac_link, &name_link, &sess_link, &id_link}) {
    link->owner = this;
  }
}

const char* CW_FsmStateName(uint32_t state) {
  static const char* const kNames[] = {"I", "J", "ID", "C", "DC", "Running", "R"};
  return state < std::size(kNames) ? kNames[state] : "";
}
