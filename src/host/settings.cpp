#include "host/settings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "common/trace.h"
#include "host/settings_file.h"

namespace orv {

const std::string szRegKeyRoot = "SOFTWARE\\VORN\\Orvistar";
const std::string szRegKeySystem = szRegKeyRoot + "\\System";
int32_t nSocketTimeout = 5000;

namespace {

constexpr const char* kHeader = "REGEDIT4";
constexpr const char* kHive = "HKEY_LOCAL_MACHINE\\";
// A settings file is a handful of lines; anything far larger is not ours.
constexpr off_t kMaxFileSize = 1 << 20;

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

namespace regfile {

Line PlainLine(std::string raw) {
  Line l;
  l.raw = std::move(raw);
  return l;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

// Parses a quoted string starting at s[pos] == '"'; advances pos past the
// closing quote. Returns nullopt on a malformed string.
std::optional<std::string> ParseQuoted(std::string_view s, size_t& pos) {
  if (pos >= s.size() || s[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '\\') {
      if (++pos >= s.size()) return std::nullopt;
      if (s[pos] != '\\' && s[pos] != '"') return std::nullopt;
      out.push_back(s[pos]);
    } else if (c == '"') {
      ++pos;
      return out;
    } else {
      out.push_back(c);
    }
  }
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "xx,xx,..." (blanks, continuation backslashes and line breaks allowed).
std::optional<std::vector<uint8_t>> ParseHexList(std::string_view s) {
  std::vector<uint8_t> out;
  int value = 0, digits = 0;
  auto flush = [&]() {
    if (digits > 0) out.push_back(static_cast<uint8_t>(value));
    value = 0;
    digits = 0;
  };
  for (char c : s) {
    if (c == ',' || c == ' ' || c == '\t' || c == '\\' || c == '\r' || c == '\n') {
      flush();
      continue;
    }
    int d = HexDigit(c);
    if (d < 0 || ++digits > 2) return std::nullopt;
    value = value * 16 + d;
  }
  flush();
  return out;
}

std::optional<Value> ParseValueData(std::string_view data) {
  Value v;
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    auto text = ParseQuoted(data, pos);
    if (!text || Trim(data.substr(pos)) != "") return std::nullopt;
    v.type = ValueType::String;
    // A string ends at its first NUL, as it does in the hex form a write uses
    // for it; otherwise a write would lose the rest of what was read.
    v.text = text->substr(0, text->find('\0'));
    return v;
  }
  if (data.size() > 6 && IEquals(data.substr(0, 6), "dword:")) {
    std::string digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t n = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      n = n * 16 + static_cast<uint32_t>(d);
    }
    v.type = ValueType::Dword;
    v.dword = n;
    return v;
  }
  if (data.size() >= 7 && IEquals(data.substr(0, 7), "hex(1):")) {
    // A string whose bytes could not be written between quotes.
    auto bytes = ParseHexList(data.substr(7));
    if (!bytes) return std::nullopt;
    v.type = ValueType::String;
    for (uint8_t b : *bytes) {
      if (b == 0) break;
      v.text.push_back(static_cast<char>(b));
    }
    return v;
  }
  if (data.size() >= 4 && (IEquals(data.substr(0, 4), "hex:") || IEquals(data.substr(0, 4), "hex("))) {
    size_t colon = data.find(':');
    if (colon == std::string_view::npos || !ParseHexList(data.substr(colon + 1))) return std::nullopt;
    v.type = ValueType::Other;  // binary and other registry types: readable by neither reader
    return v;
  }
  return std::nullopt;
}

// Returns nullopt when the text is not a settings file.
std::optional<Document> Parse(const std::string& text) {
  Document doc;
  std::vector<std::string> physical;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      if (start < text.size()) physical.push_back(text.substr(start));
      break;
    }
    physical.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  size_t i = 0;
  // The header is the first non-blank line.
  while (i < physical.size() && Trim(physical[i]).empty()) {
    doc.lines.push_back(PlainLine(physical[i]));
    ++i;
  }
  if (i >= physical.size() || Trim(physical[i]) != kHeader) return std::nullopt;
  doc.lines.push_back(PlainLine(physical[i]));
  ++i;
  std::string section;
  for (; i < physical.size(); ++i) {
    Line line;
    line.raw = physical[i];
    std::string t = Trim(physical[i]);
    // Join continuation lines of hex data.
    while (!t.empty() && t.back() == '\\' && t.find("=hex") != std::string::npos &&
           i + 1 < physical.size()) {
      ++i;
      line.raw += "\n" + physical[i];
      t += Trim(physical[i]);
    }
    if (t.empty() || t[0] == ';') {
      line.section = section;
      doc.lines.push_back(std::move(line));
      continue;
    }
    if (t[0] == '[') {
      if (t.back() != ']' || t.size() < 3) return std::nullopt;
      section = t.substr(1, t.size() - 2);
      line.isSection = true;
      line.section = section;
      doc.lines.push_back(std::move(line));
      continue;
    }
    if (section.empty()) return std::nullopt;
    std::string name;
    size_t pos = 0;
    if (t[0] == '@') {
      pos = 1;  // the key's default value
    } else {
      auto n = ParseQuoted(t, pos);
      if (!n) return std::nullopt;
      name = *n;
    }
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
    if (pos >= t.size() || t[pos] != '=') return std::nullopt;
    ++pos;
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
    auto value = ParseValueData(std::string_view(t).substr(pos));
    if (!value) return std::nullopt;
    line.isValue = true;
    line.section = section;
    line.name = name;
    line.value = *value;
    doc.lines.push_back(std::move(line));
  }
  return doc;
}

std::string SectionName(const std::string& key) { return kHive + key; }

std::string EscapeQuoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool NeedsHexForm(const std::string& s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

std::string FormatValue(const std::string& name, const Value& v) {
  std::string line = EscapeQuoted(name) + "=";
  if (v.type == ValueType::Dword) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
    line += buf;
  } else if (NeedsHexForm(v.text)) {
    line += "hex(1):";
    char buf[4];
    for (unsigned char c : v.text) {
      std::snprintf(buf, sizeof buf, "%02x,", c);
      line += buf;
    }
    line += "00";
  } else {
    line += EscapeQuoted(v.text);
  }
  return line;
}

std::string Serialize(const Document& doc) {
  std::string out;
  for (const auto& l : doc.lines) {
    out += l.raw;
    out += "\n";
  }
  return out;
}

}  // namespace regfile

namespace {
using namespace regfile;

// Reads the whole file. nullopt: no file (or unreadable, which reads as no key).
std::optional<std::string> ReadFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    ::close(fd);
    // Too large or not a regular file: unparsable rather than absent.
    return std::string();
  }
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > static_cast<size_t>(kMaxFileSize)) break;
  }
  ::close(fd);
  return text;
}

const Line* FindValue(const Document& doc, const std::string& key, const std::string& name) {
  const std::string section = SectionName(key);
  for (const auto& l : doc.lines) {
    if (l.isValue && IEquals(l.section, section) && IEquals(l.name, name)) return &l;
  }
  return nullptr;
}

// The value, or nullopt when the file, the key or the value does not exist or
// the file does not parse (all of which read as the default).
std::optional<Value> Lookup(const std::string& key, const std::string& name) {
  auto text = ReadFile(SettingsFilePath());
  if (!text) return std::nullopt;
  auto doc = Parse(*text);
  if (!doc) return std::nullopt;
  const Line* l = FindValue(*doc, key, name);
  if (!l) return std::nullopt;
  return l->value;
}

std::string DirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return false;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (!MakeDirs(DirOf(dir)) && DirOf(dir) != dir) return false;
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    off += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file's content atomically: temporary file, fsync, rename.
bool ReplaceFile(const std::string& path, const std::string& data) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  int dfd = ::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

// Moves an unparsable file aside so nothing typed by hand is lost.
void KeepBadFile(const std::string& path) {
  std::string bad = path + ".bad";
  for (int n = 1; n < 100; ++n) {
    struct stat st {};
    if (::stat(bad.c_str(), &st) != 0) break;
    bad = path + ".bad." + std::to_string(n);
  }
  ::rename(path.c_str(), bad.c_str());
}

void Write(const std::string& key, const std::string& name, const Value& value) {
  const std::string path = SettingsFilePath();
  // A key that cannot be opened or created drops the write silently.
  if (!MakeDirs(DirOf(path))) return;
  int lockfd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockfd < 0) return;
  while (::flock(lockfd, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct LockGuard {
    int fd;
    ~LockGuard() {
      ::flock(fd, LOCK_UN);
      ::close(fd);
    }
  } guard{lockfd};

  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw RegistryError("Failed to set data for '" + name + "'");
  }

  Document doc;
  auto text = ReadFile(path);
  std::optional<Document> parsed;
  if (text) parsed = Parse(*text);
  if (parsed) {
    doc = std::move(*parsed);
  } else {
    if (text) KeepBadFile(path);
    doc.lines.push_back(PlainLine(kHeader));
    doc.lines.push_back(PlainLine(""));
  }

  const std::string section = SectionName(key);
  const std::string formatted = FormatValue(name, value);
  bool done = false;
  for (auto& l : doc.lines) {
    if (l.isValue && IEquals(l.section, section) && IEquals(l.name, name)) {
      l.raw = formatted;
      done = true;
      break;
    }
  }
  if (!done) {
    // Append after the last line of the section, or add the section at the end.
    size_t insertAt = doc.lines.size();
    bool haveSection = false;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
      if (IEquals(doc.lines[i].section, section)) {
        haveSection = true;
        if (doc.lines[i].isSection || doc.lines[i].isValue) insertAt = i + 1;
      }
    }
    Line l;
    l.raw = formatted;
    l.section = section;
    l.isValue = true;
    if (haveSection) {
      doc.lines.insert(doc.lines.begin() + static_cast<long>(insertAt), l);
    } else {
      if (!doc.lines.empty() && !Trim(doc.lines.back().raw).empty()) doc.lines.push_back(PlainLine(""));
      Line s;
      s.raw = "[" + section + "]";
      s.section = section;
      s.isSection = true;
      doc.lines.push_back(s);
      doc.lines.push_back(l);
    }
  }
  if (!ReplaceFile(path, Serialize(doc))) {
    throw RegistryError("Failed to set data for '" + name + "'");
  }
}

}  // namespace

std::string SettingsFilePath() {
  if (const char* p = std::getenv("ORVISTAR_SETTINGS"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/orvistar/system.reg";
}

int32_t ReadRegInteger(const std::string& key, const std::string& name, int32_t def) {
  auto v = Lookup(key, name);
  if (!v) return def;
  if (v->type != ValueType::Dword) throw RegistryError("Invalid data type for '" + name + "'");
  return static_cast<int32_t>(v->dword);
}

std::string ReadRegString(const std::string& key, const std::string& name, const std::string& def) {
  auto v = Lookup(key, name);
  if (!v) return def;
  if (v->type != ValueType::String) throw RegistryError("Invalid data type for '" + name + "'");
  return v->text;
}

void WriteRegInteger(const std::string& key, const std::string& name, int32_t value) {
  Value v;
  v.type = ValueType::Dword;
  v.dword = static_cast<uint32_t>(value);
  Write(key, name, v);
}

void WriteRegString(const std::string& key, const std::string& name, const std::string& value) {
  Value v;
  v.type = ValueType::String;
  v.text = value;
  Write(key, name, v);
}

int32_t StoredSearchRounds(std::string* warning) {
  const int32_t rounds = ReadRegInteger(szRegKeySystem, "Search_Timeout", 3);
  if (rounds <= kMaxSearchRounds) return rounds;
  if (warning)
    *warning = "the \"Search_Timeout\" setting is " + std::to_string(rounds) + "; searching " +
               std::to_string(kMaxSearchRounds) + " rounds instead";
  return kMaxSearchRounds;
}

}  // namespace orv
