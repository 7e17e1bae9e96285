#include "cli/device_batch.h"

#include "batch/batch_runner.h"

#include <cctype>
#include <cstdio>

#include <nlohmann/json.hpp>

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
  nlohmann::ordered_json devices = nlohmann::ordered_json::array();
  for (const auto& o : outcomes) {
    if (o.ran && o.result == 0) ++ok;
    nlohmann::ordered_json d = {{"mac", JsonText(o.mac)},
                                {"ip", JsonText(o.ip)},
                                {"model", JsonText(o.model)},
                                {"server_name", JsonText(o.serverName)},
                                {"found", o.ran},
                                {"result", o.result},
                                {"status", o.ran && o.result == 0 ? "Success" : "Fail"}};
    if (!o.note.empty()) d["note"] = JsonText(o.note);
    if (!o.file.empty()) d["file"] = JsonText(o.file);
    if (o.blocks >= 0) d["blocks"] = o.blocks;
    devices.push_back(std::move(d));
  }
  nlohmann::ordered_json j = {{"command", JsonText(command)},
                              {"devices", std::move(devices)},
                              {"succeeded", ok},
                              {"failed", static_cast<int>(outcomes.size()) - ok},
                              {"stopped", stopped}};
  return j.dump(2) + "\n";
}

std::string ReportFormatOf(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "csv" || ext == "json" ? ext : "";
}

namespace {
std::string ResultTextOf(const DeviceOutcome& o) {
  if (!o.ran) return "not found by the search";
  return o.text.empty() ? (o.result == 0 ? "Success" : "Fail") : o.text;
}
}  // namespace

std::string FormatReport(const std::string& format, const std::string& operation,
                         const std::vector<DeviceOutcome>& outcomes) {
  if (format == "json") {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& o : outcomes) {
      list.push_back({{"finished", o.finishedAt},
                      {"mac", JsonText(o.mac)},
                      {"address", JsonText(o.ip)},
                      {"model", JsonText(o.model)},
                      {"operation", operation},
                      {"result", o.result},
                      {"text", JsonText(ResultTextOf(o))},
                      {"seconds", o.seconds}});
    }
    return list.dump(2) + "\n";
  }
  std::string out = "finished,mac,address,model,operation,result,text,seconds\r\n";
  char secs[32];
  for (const auto& o : outcomes) {
    std::snprintf(secs, sizeof secs, "%.3f", o.seconds);
    out += CsvField(o.finishedAt) + "," + CsvField(o.mac) + "," + CsvField(o.ip) + "," + CsvField(o.model) +
           "," + operation + "," + std::to_string(o.result) + "," + CsvField(ResultTextOf(o)) + "," + secs +
           "\r\n";
  }
  return out;
}

}  // namespace orv::cli
