// Stand-ins until the virtual AP profile exists: no profile element is
// written, so a bound AP is configured as if it had none.
#include "relay/vap_enc.h"

int CAPWAP_ENC_VapMsgIE(CW_PKT& /*pkt*/, const void* /*profile*/, uint32_t /*vendor_id*/) {
  return 0;
}

int CAPWAP_ENC_VapMsgBackupAc(CW_PKT& /*pkt*/, const void* /*profile*/) { return 0; }
