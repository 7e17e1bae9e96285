// fuzz-libs: orv_batch
// Any bytes as a configuration file through the model check and the network
// overwrite rule: at most one byte changes, and only to '0', right after the
// first key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch/config_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t modelLen = data[0] % 12;
  if (size < 1 + modelLen) return 0;
  const std::string model(reinterpret_cast<const char*>(data + 1), modelLen);
  std::vector<uint8_t> text(data + 1 + modelLen, data + size);
  (void)orv::ConfigModelMatches(text, model);

  const std::vector<uint8_t> before = text;
  const bool changed = orv::ApplyNetConfigRule(text, false);
  if (text.size() != before.size()) std::abort();
  size_t diffs = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != before[i]) {
      ++diffs;
      if (text[i] != '0') std::abort();
      const size_t keyLen = std::strlen(orv::kNetConfigKey);
      if (i < keyLen || std::memcmp(&before[i - keyLen], orv::kNetConfigKey, keyLen) != 0) {
        std::abort();
      }
    }
  }
  if (diffs > 1 || changed != (diffs == 1)) std::abort();
  std::vector<uint8_t> again = before;
  if (orv::ApplyNetConfigRule(again, true) || again != before) std::abort();
  return 0;
}
