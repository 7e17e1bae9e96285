#pragma once
// The console client's command line and window title come from settings as
// templates: %a is the device's address, %w the native id of the window the
// client is embedded into, %% a percent sign. The command is split into
// arguments before anything is substituted, so an address can never become
// more than one argument, and nothing is ever given to a shell.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::console {

// "Console Command" and "Console Title".
extern const char* const szConsoleCommandName;
extern const char* const szConsoleTitleName;
extern const char* const szDefaultConsoleCommand;  // xterm -into %w -title "Telnet %a" -e telnet %a
extern const char* const szDefaultConsoleTitle;    // Telnet %a

// Splits at blanks; double quotes group (and are removed), a backslash before
// a double quote or a backslash takes it literally. nullopt (with `error`)
// on an unterminated quote.
std::optional<std::vector<std::string>> SplitCommandLine(const std::string& text, std::string* error = nullptr);

// Replaces %a, %w and %% in one text; any other % sequence stays as it is.
std::string ExpandConsoleText(const std::string& text, const std::string& address, uint32_t window);

// The argument vector for one start: split first, then each part expanded.
std::optional<std::vector<std::string>> BuildConsoleArgs(const std::string& commandTemplate,
                                                         const std::string& address, uint32_t window,
                                                         std::string* error = nullptr);

}  // namespace orv::console
