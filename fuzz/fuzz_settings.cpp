// fuzz-libs: orv_host
// Any text as a settings file: a file that parses can be written back value by
// value, and the written form parses to the same sections, names and values;
// the file as read also survives being written out unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "host/settings_file.h"

namespace {

using orv::regfile::Document;
using orv::regfile::ValueType;
using Entry = std::tuple<std::string, std::string, int, uint32_t, std::string>;

std::vector<Entry> Values(const Document& doc) {
  std::vector<Entry> out;
  for (const auto& l : doc.lines) {
    if (!l.isValue || l.value.type == ValueType::Other) continue;
    const bool dword = l.value.type == ValueType::Dword;
    out.emplace_back(l.section, l.name, dword ? 1 : 2, dword ? l.value.dword : 0u,
                     dword ? std::string() : l.value.text);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto doc = orv::regfile::Parse(text);
  if (!doc) return 0;
  const auto values = Values(*doc);

  const auto again = orv::regfile::Parse(orv::regfile::Serialize(*doc));
  if (!again || Values(*again) != values) std::abort();

  // Every value written the way a write puts it, under its own section.
  std::string written = "REGEDIT4\n";
  std::string section;
  for (const auto& l : doc->lines) {
    if (!l.isValue || l.value.type == ValueType::Other) continue;
    if (l.section != section) {
      section = l.section;
      written += "\n[" + section + "]\n";
    }
    written += orv::regfile::FormatValue(l.name, l.value) + "\n";
  }
  const auto rewritten = orv::regfile::Parse(written);
  if (!rewritten || Values(*rewritten) != values) std::abort();
  return 0;
}
