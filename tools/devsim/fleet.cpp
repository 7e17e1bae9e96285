#include "fleet.h"

#include "command_service.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace orv::devsim {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw FleetError(where + ": " + what);
}

// Unsigned number from an integer or a "0x..."/decimal string, at most max.
uint64_t Number(const json& v, const std::string& where, uint64_t max) {
  uint64_t n = 0;
  if (v.is_number_unsigned()) {
    n = v.get<uint64_t>();
  } else if (v.is_number_integer()) {
    if (v.get<int64_t>() < 0) Fail(where, "must not be negative");
    n = static_cast<uint64_t>(v.get<int64_t>());
  } else if (v.is_string()) {
    const std::string s = v.get<std::string>();
    size_t pos = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      base = 16;
      pos = 2;
    }
    if (pos >= s.size()) Fail(where, "\"" + s + "\" is not a number");
    for (; pos < s.size(); ++pos) {
      int d;
      char c = s[pos];
      if (c >= '0' && c <= '9') d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else Fail(where, "\"" + s + "\" is not a number");
      n = n * base + d;
      if (n > max) Fail(where, "\"" + s + "\" is out of range (max " + std::to_string(max) + ")");
    }
  } else {
    Fail(where, "must be a number or a numeric string");
  }
  if (n > max) Fail(where, std::to_string(n) + " is out of range (max " + std::to_string(max) + ")");
  return n;
}

std::string Text(const json& v, const std::string& where) {
  if (!v.is_string()) Fail(where, "must be a string");
  return v.get<std::string>();
}

Ip4 Address(const json& v, const std::string& where) {
  const std::string s = Text(v, where);
  Ip4 ip{};
  int part = 0;
  size_t i = 0;
  while (true) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') Fail(where, "\"" + s + "\" is not a dotted IPv4 address");
    unsigned n = 0;
    int digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      n = n * 10 + (s[i] - '0');
      if (++digits > 3 || n > 255) Fail(where, "\"" + s + "\" is not a dotted IPv4 address");
      ++i;
    }
    ip[part++] = static_cast<uint8_t>(n);
    if (part == 4) break;
    if (i >= s.size() || s[i] != '.') Fail(where, "\"" + s + "\" is not a dotted IPv4 address");
    ++i;
  }
  if (i != s.size()) Fail(where, "\"" + s + "\" is not a dotted IPv4 address");
  return ip;
}

bool IsMask(const Ip4& m) {
  uint32_t v = uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3];
  uint32_t inv = ~v;
  return (inv & (inv + 1)) == 0;  // ones then zeros
}

Mac MacAddress(const json& v, const std::string& where) {
  const std::string s = Text(v, where);
  Mac mac{};
  auto hex = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (s.size() != 17) Fail(where, "\"" + s + "\" is not a MAC address like 00-0A-1B-2C-3D-4E");
  for (int k = 0; k < 6; ++k) {
    int hi = hex(s[k * 3]), lo = hex(s[k * 3 + 1]);
    if (hi < 0 || lo < 0 || (k < 5 && s[k * 3 + 2] != '-' && s[k * 3 + 2] != ':'))
      Fail(where, "\"" + s + "\" is not a MAC address like 00-0A-1B-2C-3D-4E");
    mac[k] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (mac[0] & 0x01) Fail(where, "\"" + s + "\" is a multicast address");
  if (mac == Mac{}) Fail(where, "the all-zero MAC address is not usable");
  return mac;
}

bool Flag(const json& v, const std::string& where) {
  if (!v.is_boolean()) Fail(where, "must be true or false");
  return v.get<bool>();
}

const std::set<std::string> kDeviceKeys = {
    "hwid",     "apid",         "mac",    "ip",      "netmask", "gateway", "firmware", "lock",
    "server_name", "password", "address_mode", "config", "faults", "factory", "netns", "comment"};

void ReadFaults(const json& f, const std::string& where, Device& d) {
  if (!f.is_object()) Fail(where, "must be an object");
  // Keys not listed here belong to the command side, which reads them from Device::raw.
  if (f.contains("silent")) d.faults.silent = Flag(f["silent"], where + ".silent");
  if (f.contains("answer_always")) d.faults.answerAlways = Flag(f["answer_always"], where + ".answer_always");
  if (f.contains("malformed")) d.faults.malformed = Flag(f["malformed"], where + ".malformed");
  if (f.contains("wrong_apid")) d.faults.wrongApid = Flag(f["wrong_apid"], where + ".wrong_apid");
  if (f.contains("delay_ms")) {
    const json& r = f["delay_ms"];
    const std::string w = where + ".delay_ms";
    if (r.is_array() && r.size() == 2) {
      d.faults.delayMinMs = static_cast<int>(Number(r[0], w + "[0]", 600000));
      d.faults.delayMaxMs = static_cast<int>(Number(r[1], w + "[1]", 600000));
    } else if (r.is_number() || r.is_string()) {
      d.faults.delayMinMs = d.faults.delayMaxMs = static_cast<int>(Number(r, w, 600000));
    } else {
      Fail(w, "must be [min, max] in milliseconds or one number");
    }
    if (d.faults.delayMinMs > d.faults.delayMaxMs) Fail(w, "min is greater than max");
  }
}

Device ReadDevice(const json& j, size_t index) {
  std::string where = "device " + std::to_string(index + 1);
  if (!j.is_object()) Fail(where, "must be an object");
  for (auto it = j.begin(); it != j.end(); ++it)
    if (!kDeviceKeys.count(it.key())) Fail(where, "unknown field \"" + it.key() + "\"");
  if (!j.contains("mac")) Fail(where, "field \"mac\" is missing");
  Device d;
  d.index = index;
  d.raw = j;
  d.mac = MacAddress(j["mac"], where + ".mac");
  where += " (" + d.MacText() + ")";
  if (!j.contains("hwid")) Fail(where, "field \"hwid\" is missing");
  if (!j.contains("ip")) Fail(where, "field \"ip\" is missing");
  d.hwid = static_cast<uint16_t>(Number(j["hwid"], where + ".hwid", 0xFFFF));
  d.apid = j.contains("apid") ? static_cast<uint32_t>(Number(j["apid"], where + ".apid", 0xFFFFFFFFu))
                              : 0x80000000u + d.hwid;
  d.ip = Address(j["ip"], where + ".ip");
  if (j.contains("netmask")) d.netmask = Address(j["netmask"], where + ".netmask");
  if (!IsMask(d.netmask)) Fail(where + ".netmask", IpText(d.netmask) + " is not a contiguous mask");
  if (j.contains("gateway")) d.gateway = Address(j["gateway"], where + ".gateway");
  if (j.contains("firmware")) {
    try {
      d.revision = ParseRevision(Text(j["firmware"], where + ".firmware"));
    } catch (const std::invalid_argument& e) {
      Fail(where + ".firmware", e.what());
    }
  } else {
    d.revision = ParseRevision("1.2.1");
  }
  if (j.contains("lock")) {
    const json& l = j["lock"];
    d.lockMode = l.is_boolean() ? (l.get<bool>() ? 1 : 0)
                                : static_cast<uint8_t>(Number(l, where + ".lock", 255));
  }
  if (j.contains("server_name")) {
    const json& s = j["server_name"];
    const std::string w = where + ".server_name";
    if (s.is_string()) {
      const std::string t = s.get<std::string>();
      d.serverName.assign(t.begin(), t.end());
    } else if (s.is_array()) {
      for (size_t k = 0; k < s.size() && k <= 60; ++k)
        d.serverName.push_back(static_cast<uint8_t>(Number(s[k], w + "[" + std::to_string(k) + "]", 255)));
    } else {
      Fail(w, "must be a string or an array of byte values");
    }
    if (d.serverName.size() > 60) Fail(w, "longer than 60 bytes");
  }
  if (j.contains("password")) {
    d.password = Text(j["password"], where + ".password");
    if (d.password.size() > 8) Fail(where + ".password", "longer than 8 characters");
  }
  if (j.contains("address_mode"))
    d.addressMode = static_cast<uint8_t>(Number(j["address_mode"], where + ".address_mode", 4));
  if (j.contains("netns")) {
    d.netns = Text(j["netns"], where + ".netns");
    if (d.netns.empty() || d.netns.size() > 64) Fail(where + ".netns", "must have 1 to 64 characters");
    for (char c : d.netns)
      if (!(isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'))
        Fail(where + ".netns", "may only hold letters, digits, '-', '_' and '.'");
  }
  d.configText = j.contains("config") ? Text(j["config"], where + ".config") : DefaultConfigText(d);
  if (j.contains("faults")) ReadFaults(j["faults"], where + ".faults", d);
  try {
    ValidateCommandFaults(j);  // the command side's keys in "faults"
  } catch (const std::invalid_argument& e) {
    Fail(where, e.what());
  }

  d.factory.configText = DefaultConfigText(d);
  if (j.contains("factory")) {
    const json& f = j["factory"];
    const std::string w = where + ".factory";
    if (!f.is_object()) Fail(w, "must be an object");
    for (auto it = f.begin(); it != f.end(); ++it) {
      const std::string& k = it.key();
      if (k == "ip") d.factory.ip = Address(*it, w + ".ip");
      else if (k == "netmask") d.factory.netmask = Address(*it, w + ".netmask");
      else if (k == "gateway") d.factory.gateway = Address(*it, w + ".gateway");
      else if (k == "password") d.factory.password = Text(*it, w + ".password");
      else if (k == "address_mode") d.factory.addressMode = static_cast<uint8_t>(Number(*it, w + ".address_mode", 4));
      else if (k == "config") d.factory.configText = Text(*it, w + ".config");
      else Fail(w, "unknown field \"" + k + "\"");
    }
    if (!IsMask(d.factory.netmask)) Fail(w + ".netmask", "not a contiguous mask");
  }
  return d;
}

}  // namespace

std::string ModelName(uint16_t hwid) {
  static const char* const kK7710[] = {"K7710-GPRS-C", "K7710-HSDPA-C", "K7710-GPRS-IEC", "K7710-HSDPA-IEC"};
  static const char* const k4410[] = {"Tramix 4410-5-RJ45-C",   "Tramix 4410-5-M12-C",
                                      "Tramix 4410-9-RJ45-C",   "Tramix 4410-9-M12-C",
                                      "Tramix 4410-5-RJ45-IEC", "Tramix 4410-5-M12-IEC",
                                      "Tramix 4410-9-RJ45-IEC", "Tramix 4410-9-M12-IEC"};
  if (hwid >= 0x0115 && hwid <= 0x0118) return kK7710[hwid - 0x0115];
  if (hwid >= 0x0119 && hwid <= 0x011C) return std::string(kK7710[hwid - 0x0119]) + "-T";
  if (hwid >= 0x0201 && hwid <= 0x0208) return k4410[hwid - 0x0201];
  if (hwid >= 0x0181 && hwid <= 0x0188) return std::string(k4410[hwid - 0x0181]) + "-T";
  return "";
}

std::string DefaultConfigText(const Device& d) {
  std::string model = ModelName(d.hwid);
  if (model.empty()) model = "UNKNOWN";
  std::string name(d.serverName.begin(), d.serverName.end());
  if (auto z = name.find('\0'); z != std::string::npos) name.resize(z);
  std::ostringstream o;
  o << "[SYSTEM]\r\n"
    << "MOD_TYPE=" << model << "\r\n"
    << "SERVER_NAME=" << name << "\r\n"
    << "FIRMWARE=" << d.RevisionText() << "\r\n"
    << "[NETWORK]\r\n"
    << "NET_CONFIG_OVERWRITE=1\r\n"
    << "IP_MODE=" << int(d.addressMode) << "\r\n"
    << "IP_ADDRESS=" << IpText(d.LiveAddress()) << "\r\n"
    << "NETMASK=" << IpText(d.netmask) << "\r\n"
    << "GATEWAY=" << IpText(d.gateway) << "\r\n"
    << "[IO]\r\n"
    << "AI_COUNT=4\r\nAI_RANGE=0-20mA\r\nDIO_COUNT=8\r\nRELAY_COUNT=2\r\nSCAN_RATE_MS=100\r\n";
  return o.str();
}

std::vector<Device> ParseFleet(const std::string& text) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::parse_error& e) {
    throw FleetError(std::string("fleet file is not valid JSON: ") + e.what());
  }
  const json* list = &j;
  if (j.is_object()) {
    if (!j.contains("devices")) throw FleetError("fleet file: object without a \"devices\" array");
    list = &j["devices"];
  }
  if (!list->is_array()) throw FleetError("fleet file: \"devices\" must be an array");
  std::vector<Device> out;
  std::set<Mac> macs;
  std::set<std::string> netns;
  for (size_t i = 0; i < list->size(); ++i) {
    Device d = ReadDevice((*list)[i], i);
    if (!macs.insert(d.mac).second)
      throw FleetError("device " + std::to_string(i + 1) + ": MAC " + d.MacText() + " appears twice");
    if (!d.netns.empty() && !netns.insert(d.netns).second)
      throw FleetError("device " + std::to_string(i + 1) + ": namespace " + d.netns + " appears twice");
    out.push_back(std::move(d));
  }
  return out;
}

std::vector<Device> LoadFleet(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw FleetError("cannot open fleet file " + path);
  // 1000 devices take well under 1 MiB; refuse anything absurd before reading it.
  if (in.tellg() > std::streamoff(64) << 20) throw FleetError("fleet file " + path + " is larger than 64 MiB");
  in.seekg(0);
  std::ostringstream s;
  s << in.rdbuf();
  try {
    return ParseFleet(s.str());
  } catch (const FleetError& e) {
    throw FleetError(path + ": " + e.what());
  }
}

}  // namespace orv::devsim
