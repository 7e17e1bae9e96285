#pragma once
// The settings file's text form: a REGEDIT4 layout of sections and typed
// values. Parsing keeps every line as it was read, so a write changes only the
// line of the value it sets.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::regfile {

enum class ValueType { Dword, String, Other };

struct Value {
  ValueType type = ValueType::Other;
  uint32_t dword = 0;
  std::string text;
};

// One logical line of the file (a value may span physical lines with a
// trailing backslash, as hex data does).
struct Line {
  std::string raw;      // exactly as read, continuation lines included
  std::string section;  // the key of the section the line is in ("" before any)
  bool isSection = false;
  bool isValue = false;
  std::string name;     // value name, unescaped
  Value value;
};

struct Document {
  std::vector<Line> lines;
};

// nullopt when the text is not a settings file (no REGEDIT4 header).
std::optional<Document> Parse(const std::string& text);
std::string Serialize(const Document& doc);
// The line that sets name to v, as a write puts it into the file.
std::string FormatValue(const std::string& name, const Value& v);
// "[HKEY_LOCAL_MACHINE\<key>]" without the brackets.
std::string SectionName(const std::string& key);

}  // namespace orv::regfile
