// Payload scrambling of IPv4 control datagrams and data-channel keepalives.
#include <cstring>

#include "transport/codec.h"

// Shared with the WTPs; changing it breaks every deployed AP.
const char kCwScrambleKey[] =
    "qND5QRM$@}zIp1(WPI{q,91%;L!AIIXV<_s{xRWB~)mDRFS@=h5Y{)yS%M}fVQ.yX[M)0lq9{)xyHL}<f#Mi$ABQRgY}'j";
static_assert(sizeof kCwScrambleKey == 95, "the scrambling key is 94 characters");

uint8_t g_ucNeedEncrypt = 0;

int CW_Encrypt(uint8_t* buffer, size_t length, const char* key) {
  if (buffer == nullptr || length == 0 || key == nullptr) return 1;
  const size_t key_len = std::strlen(key);
  if (key_len == 0) return 1;
  for (size_t i = 0; i < length; ++i) {
    buffer[i] = static_cast<uint8_t>(buffer[i] ^ static_cast<uint8_t>(key[i % key_len]));
  }
  return 0;
}
