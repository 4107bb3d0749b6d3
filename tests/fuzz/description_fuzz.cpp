// Descriptions of backup files (Backup.XML) and document archives
// (Archive.XML). The first byte picks the kind; the rest is the document.
#include <cstring>

#include "backup/description_reader.hpp"
#include "fuzz_target.h"
#include "session/result.hpp"

VT_FUZZ_TARGET(description) {
  using namespace vtbox;
  if (size == 0) return 0;
  const int kind = (data[0] & 1) ? 1 : 2;
  VTBACKUPINFO info;
  std::memset(&info, 0x5A, sizeof info);  // anything not written stays visibly unterminated
  uint32_t count = 0;
  GlobalBlock boxes;
  try {
    ReadDescription(reinterpret_cast<const char*>(data) + 1, size - 1, kind, &info, &count, &boxes);
  } catch (const BoxError&) {
    return 0;
  }
  VT_FUZZ_CHECK(info.Kind == static_cast<uint32_t>(kind));
  VT_FUZZ_CHECK(strnlen(info.EngineVersion, sizeof info.EngineVersion) < sizeof info.EngineVersion);
  VT_FUZZ_CHECK(strnlen(info.MACAddress, sizeof info.MACAddress) < sizeof info.MACAddress);
  if (kind == 1) {
    VT_FUZZ_CHECK(count == 0 || GlobalSize(boxes.get()) >= count * sizeof(VTBOXBK));
    const auto* bk = static_cast<const VTBOXBK*>(boxes.get());
    for (uint32_t i = 0; i < count; ++i)
      VT_FUZZ_CHECK(strnlen(bk[i].BoxName, sizeof bk[i].BoxName) < sizeof bk[i].BoxName);
  }
  return 0;
}
