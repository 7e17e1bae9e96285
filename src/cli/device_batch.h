#pragma once
// Pieces of the device commands of orvistarctl that need no network: option
// parsing helpers, the result texts, the JSON output and the report files.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::cli {

// "00:0a:1b:2c:3d:4e", "00-0A-1B-2C-3D-4E" or "000a1b2c3d4e" to the form the
// search shows ("00-0A-1B-2C-3D-4E"); nullopt for anything else.
std::optional<std::string> NormalizeMacText(const std::string& text);

// One "MAC=ADDR" argument of set-ip.
struct AddressChange {
  std::string mac;      // normalised
  std::string address;  // as typed (checked separately)
};
// Throws UsageError for a malformed pair.
AddressChange ParseAddressChange(const std::string& arg);

// Text for a result of the IP change: "Success", the address-mode texts for
// 51 to 54, "" for 50 and above 54, "Fail" otherwise.
std::string ChangeIpResultText(int32_t result);

// Outcome of one device in a batch.
struct DeviceOutcome {
  std::string mac, ip, model, serverName;
  bool ran = false;      // false: selected but not found by the search
  int32_t result = -1;
  std::string file;      // export: the file written
  int32_t blocks = -1;   // upgrade: progress steps made
  std::string note;      // extra text (mode name, reason)
  std::string text;      // result text of the operation ("Success", "Fail", "BOOTP", ...)
  std::string finishedAt;  // local time the device's turn ended
  double seconds = 0;
};

std::string FormatDeviceLine(const DeviceOutcome& o);
std::string FormatBatchJson(const std::string& command, const std::vector<DeviceOutcome>& outcomes,
                            bool stopped);

// --report FILE: "csv" or "json" from the file's extension (either case);
// empty for any other name.
std::string ReportFormatOf(const std::string& path);
// The per-device results as the report holds them: time finished, MAC,
// address, model, operation, result code, result text, seconds taken.
std::string FormatReport(const std::string& format, const std::string& operation,
                         const std::vector<DeviceOutcome>& outcomes);

}  // namespace orv::cli
