#include "discovery/result_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <utility>

#include <nlohmann/json.hpp>

#include "inventory/name_tables.h"

namespace orv {
namespace {

// Length of the well-formed UTF-8 sequence starting at s[i] (1 to 4), or 0.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i, uint32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t c = b(i);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  std::size_t len;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, min = 0x80, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, min = 0x800, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

std::string Hex2(const char* prefix, uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%s%02X", prefix, static_cast<unsigned>(v));
  return buf;
}

std::string ModelName(const IONODE& n) {
  return n.nModelIndex >= 0 && n.nModelIndex < static_cast<int>(kModelNameCount) ? NAME_MOD[n.nModelIndex] : "";
}

}  // namespace

std::string JsonText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const std::size_t len = Utf8SequenceLength(text, i, cp);
    if (len == 0) {
      // The byte read as its Latin-1 character.
      const auto c = static_cast<uint8_t>(text[i]);
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      ++i;
      continue;
    }
    out.append(text.substr(i, len));
    i += len;
  }
  return out;
}

std::string TerminalSafeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const std::size_t len = Utf8SequenceLength(text, i, cp);
    if (len == 0) {
      out += Hex2("\\x", static_cast<uint8_t>(text[i]));
      ++i;
    } else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) {
      for (std::size_t k = 0; k < len; ++k) out += Hex2("\\x", static_cast<uint8_t>(text[i + k]));
      i += len;
    } else if (cp == '\\') {
      out += "\\\\";
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string FormatResultTable(const std::vector<IONODE>& found) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"#", "Server Name", "Model", "IP Address", "MAC Address", "Subnet Mask", "Gateway",
                  "Firmware Ver."});
  for (std::size_t i = 0; i < found.size(); ++i) {
    const IONODE& n = found[i];
    rows.push_back({std::to_string(i + 1), TerminalSafeText(n.szServerName), ModelName(n),
                    TerminalSafeText(n.szIP), TerminalSafeText(n.szMac), TerminalSafeText(n.szNetmask),
                    TerminalSafeText(n.szGateway), TerminalSafeText(n.szRevision)});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) line += "  ";
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - DisplayWidth(row[c]), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line;
    out += '\n';
  }
  return out;
}

std::string FormatResultJson(const std::vector<IONODE>& found) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const IONODE& n : found) {
    list.push_back({{"server_name", JsonText(n.szServerName)},
                    {"model", JsonText(ModelName(n))},
                    {"ip", JsonText(n.szIP)},
                    {"mac", JsonText(n.szMac)},
                    {"netmask", JsonText(n.szNetmask)},
                    {"gateway", JsonText(n.szGateway)},
                    {"firmware", JsonText(n.szRevision)},
                    {"lock", JsonText(n.szLockMode)}});
  }
  return list.dump(2) + "\n";
}

}  // namespace orv
