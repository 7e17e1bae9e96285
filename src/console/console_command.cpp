#include "console/console_command.h"

namespace orv::console {

const char* const szConsoleCommandName = "Console Command";
const char* const szConsoleTitleName = "Console Title";
const char* const szDefaultConsoleCommand = "xterm -into %w -title \"Telnet %a\" -e telnet %a";
const char* const szDefaultConsoleTitle = "Telnet %a";

std::optional<std::vector<std::string>> SplitCommandLine(const std::string& text, std::string* error) {
  std::vector<std::string> args;
  std::string cur;
  bool inArg = false, quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
      cur += text[++i];
      inArg = true;
    } else if (c == '"') {
      quoted = !quoted;
      inArg = true;  // "" is an empty argument
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArg) args.push_back(std::move(cur));
      cur.clear();
      inArg = false;
    } else {
      cur += c;
      inArg = true;
    }
  }
  if (quoted) {
    if (error) *error = "the console command has an unterminated double quote";
    return std::nullopt;
  }
  if (inArg) args.push_back(std::move(cur));
  return args;
}

std::string ExpandConsoleText(const std::string& text, const std::string& address, uint32_t window) {
  std::string out;
  out.reserve(text.size() + address.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      const char k = text[i + 1];
      if (k == 'a') {
        out += address;
        ++i;
        continue;
      }
      if (k == 'w') {
        out += std::to_string(window);
        ++i;
        continue;
      }
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::optional<std::vector<std::string>> BuildConsoleArgs(const std::string& commandTemplate,
                                                         const std::string& address, uint32_t window,
                                                         std::string* error) {
  auto parts = SplitCommandLine(commandTemplate, error);
  if (!parts) return std::nullopt;
  for (auto& p : *parts) p = ExpandConsoleText(p, address, window);
  return parts;
}

}  // namespace orv::console
