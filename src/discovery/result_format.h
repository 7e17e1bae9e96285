#pragma once
// Text output of a search result: an aligned table for people and a JSON
// array for scripts. Server names are arbitrary bytes from the network, so
// both make them safe for a terminal or a JSON reader.
#include <string>
#include <string_view>
#include <vector>

#include "discovery/answer_handler.h"

namespace orv {

// Text a JSON writer accepts: well-formed UTF-8 stays, every other byte
// becomes the character of its value (U+0080 to U+00FF), so no name from the
// network is lost or makes the writer fail.
std::string JsonText(std::string_view text);

// For a terminal: control characters (C0, DEL, C1) and bytes that are not
// well-formed UTF-8 become \xNN; a backslash becomes "\\".
std::string TerminalSafeText(std::string_view text);

// Display width of a terminal-safe text (one column per code point).
std::size_t DisplayWidth(std::string_view text);

// Columns "#", "Server Name", "Model", "IP Address", "MAC Address",
// "Subnet Mask", "Gateway", "Firmware Ver.", rows in discovery order.
std::string FormatResultTable(const std::vector<IONODE>& found);

// [{"server_name", "model", "ip", "mac", "netmask", "gateway", "firmware",
// "lock"}, ...]; "lock" is "Lock" or "Unlock".
std::string FormatResultJson(const std::vector<IONODE>& found);

}  // namespace orv
