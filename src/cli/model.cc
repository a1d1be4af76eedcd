// Stand-in catalogue until the vendor profiles are built: every non-empty
// model name is accepted and nothing is stored.
#include "cli/model.h"

void CW_ApModelEncode(const CW_APMODEL&, uint8_t out[kApModelRecordSize]) {
  for (size_t i = 0; i < kApModelRecordSize; ++i) out[i] = 0;
}
std::optional<CW_APMODEL> CW_ApModelDecode(capwap::ByteView) { return std::nullopt; }
void CW_ApModel_Init() {}
const CW_APMODEL* CW_GetApModelInfo_ByModel(std::string_view) { return nullptr; }
bool CW_isSupportAntTypeSW(std::string_view) { return false; }
bool CW_IsValidModel(std::string_view name, uint8_t) { return !name.empty(); }
int CW_AC_IsValidWTPModel(std::string_view name) { return name.empty() ? 0 : 1; }
int CW_AC_CheckAPMac(const std::array<uint8_t, 6>* mac, std::string_view) { return mac ? 1 : 0; }
int CW_AC_CheckAPVersion(const char*, std::string_view) { return 1; }
bool CW_ModelsCompatible(std::string_view configured, std::string_view reported) {
  return configured == reported;
}
