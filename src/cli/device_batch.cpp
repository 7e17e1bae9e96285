#include "cli/device_batch.h"

#include "batch/batch_runner.h"

#include <cctype>
#include <cstdio>

#include "cli/cli.h"
#include "discovery/result_format.h"

namespace orv::cli {

std::optional<std::string> NormalizeMacText(const std::string& text) {
  std::string hex;
  if (text.size() == 17) {
    const char sep = text[2];
    if (sep != ':' && sep != '-') return std::nullopt;
    for (size_t i = 0; i < 17; ++i) {
      if (i % 3 == 2) {
        if (text[i] != sep) return std::nullopt;
      } else {
        hex.push_back(text[i]);
      }
    }
  } else if (text.size() == 12) {
    hex = text;
  } else {
    return std::nullopt;
  }
  std::string out;
  for (size_t i = 0; i < 12; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(hex[i]))) return std::nullopt;
    if (i > 0 && i % 2 == 0) out.push_back('-');
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i]))));
  }
  return out;
}

AddressChange ParseAddressChange(const std::string& arg) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos) throw UsageError("set-ip needs MAC=ADDR, not '" + arg + "'");
  auto mac = NormalizeMacText(arg.substr(0, eq));
  if (!mac) throw UsageError("'" + arg.substr(0, eq) + "' is not a MAC address");
  return {*mac, arg.substr(eq + 1)};
}

std::string ChangeIpResultText(int32_t result) { return BatchResultText(BatchOp::SetIp, result); }

std::string FormatDeviceLine(const DeviceOutcome& o) {
  std::string line = o.mac + "  " + (o.ip.empty() ? "-" : o.ip) + "  ";
  if (!o.ran) return line + "Fail  not found by the search";
  line += o.result == 0 ? "Success" : "Fail";
  line += "  " + std::to_string(o.result);
  if (!o.note.empty()) line += "  " + o.note;
  if (!o.file.empty()) line += "  " + o.file;
  return line;
}

std::string FormatBatchJson(const std::string& command, const std::vector<DeviceOutcome>& outcomes,
                            bool stopped) {
  int ok = 0;
  std::string s = "{\"command\": \"" + JsonEscape(command) + "\", \"devices\": [";
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const auto& o = outcomes[i];
    if (o.ran && o.result == 0) ++ok;
    s += i ? ",\n  " : "\n  ";
    s += "{\"mac\": \"" + JsonEscape(o.mac) + "\", \"ip\": \"" + JsonEscape(o.ip) + "\", \"model\": \"" +
         JsonEscape(o.model) + "\", \"server_name\": \"" + JsonEscape(o.serverName) + "\", \"found\": " +
         (o.ran ? "true" : "false") + ", \"result\": " + std::to_string(o.result) + ", \"status\": \"" +
         (o.ran && o.result == 0 ? "Success" : "Fail") + "\"";
    if (!o.note.empty()) s += ", \"note\": \"" + JsonEscape(o.note) + "\"";
    if (!o.file.empty()) s += ", \"file\": \"" + JsonEscape(o.file) + "\"";
    if (o.blocks >= 0) s += ", \"blocks\": " + std::to_string(o.blocks);
    s += "}";
  }
  s += outcomes.empty() ? "]" : "\n]";
  s += ", \"succeeded\": " + std::to_string(ok) + ", \"failed\": " + std::to_string(outcomes.size() - ok) +
       ", \"stopped\": " + (stopped ? "true" : "false") + "}\n";
  return s;
}

}  // namespace orv::cli
