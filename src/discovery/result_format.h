#pragma once
// Text output of a search result: an aligned table for people and a JSON
// array for scripts. Server names are arbitrary bytes from the network, so
// both escape what a terminal or a JSON reader must not see raw.
#include <string>
#include <string_view>
#include <vector>

#include "discovery/answer_handler.h"

namespace orv {

// JSON string body: quotes, backslashes and control characters escaped;
// bytes that are not well-formed UTF-8 become \u00XX (the byte's value).
std::string JsonEscape(std::string_view text);

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
