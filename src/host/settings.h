#pragma once
// Persistent settings: one typed text file per user in the REGEDIT4 layout,
// ${XDG_CONFIG_HOME:-$HOME/.config}/orvistar/system.reg. Every call opens the
// file; nothing is cached, so the file is always the current truth.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orv {

// Key paths. Every caller passes szRegKeySystem.
extern const std::string szRegKeyRoot;    // "SOFTWARE\\VORN\\Orvistar"
extern const std::string szRegKeySystem;  // szRegKeyRoot + "\\System"

// Raised as "Invalid data type for '%s'" and "Failed to set data for '%s'".
struct RegistryError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int32_t ReadRegInteger(const std::string& key, const std::string& name, int32_t def);
std::string ReadRegString(const std::string& key, const std::string& name, const std::string& def);
void WriteRegInteger(const std::string& key, const std::string& name, int32_t value);
void WriteRegString(const std::string& key, const std::string& name, const std::string& value);

// The file that holds key `key` ($ORVISTAR_SETTINGS overrides the location, for
// tests and for running several instances side by side).
std::string SettingsFilePath();

// The stored search length ("Search_Timeout", one-second rounds, default 3),
// capped at kMaxSearchRounds: a hand-edited huge value would search without
// end. *warning (if given) says when the cap applied; the file keeps its value.
constexpr int32_t kMaxSearchRounds = 600;
int32_t StoredSearchRounds(std::string* warning = nullptr);

// Process-wide copies (set when the main program starts up).
extern int32_t nSocketTimeout;  // "Socket Timeout", ms, default 5000

}  // namespace orv
