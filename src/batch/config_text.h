#pragma once
// Configuration text files: the model check and the one edit the import makes,
// and the names the export gives its files.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

constexpr const char* kModTypeKey = "MOD_TYPE=";
constexpr const char* kNetConfigKey = "NET_CONFIG_OVERWRITE=";
constexpr size_t kModTypeCompareLength = 5;
// Largest configuration file the import reads (the device takes at most a
// 16-bit length; larger files are refused rather than read without bound).
constexpr int64_t kConfigMaxFileSize = 16 * 1024 * 1024;

// The text the keys are searched in: the buffer up to its first NUL byte.
std::string_view ConfigSearchText(std::span<const uint8_t> buffer);

// True when the file may go to a device of this model: no "MOD_TYPE=" in the
// text, or the five characters after its first occurrence equal the first
// five of modelName (both must have them).
bool ConfigModelMatches(std::span<const uint8_t> buffer, const std::string& modelName);

// When network settings are not to be updated, sets the character after the
// first "NET_CONFIG_OVERWRITE=" to '0'. Nothing changes when updating, when
// the key is absent, or when it ends the buffer. Returns whether a byte changed.
bool ApplyNetConfigRule(std::vector<uint8_t>& buffer, bool updateNetwork);

// The import announces the file's length in one 16-bit register.
constexpr int64_t kConfigMaxImportLength = 65535;

enum class ConfigLoad { Ok, CannotOpen, TooLarge, Empty, TooLongForDevice };
// Reads a whole configuration file (at most kConfigMaxFileSize bytes). An empty
// file, and one longer than the length register can announce, are refused:
// the device would get a configuration that contradicts its own length.
ConfigLoad LoadConfigFile(const std::string& path, std::vector<uint8_t>& out);

// Why a load failed, for the user: "file too large", "the file is empty", ...
const char* ConfigLoadText(ConfigLoad load);
// Whether the text names its model ("MOD_TYPE="); older files may not.
bool ConfigHasModelType(std::span<const uint8_t> buffer);

// "qx" + characters 2..5 of the model name + ".txt" (qx7710.txt for K7710-...).
std::string ExportSingleFileName(const std::string& modelName);
// "qx" + characters 2..5 + "_" + MAC text + ".txt" (qx7710_00-0A-1B-2C-3D-4E.txt).
std::string ExportDeviceFileName(const std::string& modelName, const std::string& macText);
// A chosen save name without ".txt" anywhere (exact case) gets ".txt" appended.
std::string ExportWithTxtExtension(const std::string& chosen);
// dir + "/" + ExportDeviceFileName(...)
std::string ExportDevicePath(const std::string& dir, const std::string& modelName,
                             const std::string& macText);

}  // namespace orv
