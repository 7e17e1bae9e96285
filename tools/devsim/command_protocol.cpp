#include "command_protocol.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace orv::devsim {

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

std::vector<uint8_t> ReplyHeader(const uint8_t* request, uint16_t lengthField) {
  std::vector<uint8_t> r(request, request + 7);
  r[4] = static_cast<uint8_t>(lengthField >> 8);
  r[5] = static_cast<uint8_t>(lengthField);
  return r;
}

Outcome Send(std::vector<uint8_t> reply, Outcome::After after = Outcome::After::None) {
  Outcome o;
  o.reply = std::move(reply);
  o.after = after;
  return o;
}

Outcome Refuse(const uint8_t* f, uint8_t code) { return Send(ExceptionReply(f, code)); }

// Read reply: header, function code, byte count, data.
Outcome ReadReply(const uint8_t* f, const uint8_t* data, size_t n) {
  auto r = ReplyHeader(f, static_cast<uint16_t>(3 + n));
  r.push_back(f[7]);
  r.push_back(static_cast<uint8_t>(n));
  r.insert(r.end(), data, data + n);
  return Send(std::move(r));
}

std::string Dotted(const Ip4& a) { return IpText(a); }

bool ParseDotted(std::string_view s, Ip4& out) {
  int part = 0, value = -1;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '.') {
      if (value < 0 || part > 3) return false;
      out[part++] = static_cast<uint8_t>(value);
      value = -1;
    } else if (s[i] >= '0' && s[i] <= '9') {
      value = (value < 0 ? 0 : value) * 10 + (s[i] - '0');
      if (value > 255) return false;
    } else {
      return false;
    }
  }
  return part == 4;
}

// Value of a "KEY=" line (key at a line start), up to the line end.
std::optional<std::string_view> LineValue(std::string_view text, std::string_view key) {
  size_t pos = 0;
  while (pos <= text.size()) {
    if (text.compare(pos, key.size(), key) == 0) {
      size_t b = pos + key.size();
      size_t e = text.find_first_of("\r\n", b);
      if (e == std::string_view::npos) e = text.size();
      return text.substr(b, e - b);
    }
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return std::nullopt;
}

std::string ServerNameText(const Device& d) {
  std::string s;
  for (uint8_t c : d.serverName) {
    if (c == 0) break;
    s.push_back(static_cast<char>(c));
  }
  return s;
}

// What a device that was never configured hands out (after the live keys).
const char* const kDefaultBody =
    "NET_CONFIG_OVERWRITE=1\r\n"
    "DNS1=0.0.0.0\r\n"
    "DNS2=0.0.0.0\r\n"
    "TELNET_PORT=23\r\n"
    "MODBUS_TCP_PORT=502\r\n"
    "MODBUS_TCP_IDLE_TIMEOUT=60\r\n"
    "COM1_MODE=RS485\r\n"
    "COM1_BAUD=9600\r\n"
    "COM1_FORMAT=8N1\r\n"
    "COM2_MODE=RS232\r\n"
    "COM2_BAUD=115200\r\n"
    "COM2_FORMAT=8N1\r\n"
    "AI1_RANGE=4-20mA\r\n"
    "AI2_RANGE=4-20mA\r\n"
    "AI3_RANGE=0-10V\r\n"
    "AI4_RANGE=0-10V\r\n"
    "DIO_DIRECTION=0x00FF\r\n"
    "RELAY1_POWER_ON=0\r\n"
    "RELAY2_POWER_ON=0\r\n"
    "WATCHDOG_SEC=30\r\n"
    "NTP_SERVER=0.0.0.0\r\n"
    "TIME_ZONE=+00:00\r\n";

}  // namespace

uint16_t DeviceCrc16(const uint8_t* data, size_t len) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < len; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

std::string DecodeLoginBlock(const uint8_t block[10]) {
  int k = block[8] & 0x07;
  if (k == 0) k = 8;
  bool raised = (block[8] & 0x80) != 0;
  std::string out;
  for (int i = 0; i < 8; ++i) {
    uint8_t c = static_cast<uint8_t>(raised ? block[i] - k : block[i] + k);
    if (c == 0) break;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string ModelTagForHwid(uint16_t hwid) {
  static const char* const k7710[] = {"K7710-GPRS-C", "K7710-HSDPA-C", "K7710-GPRS-IEC",
                                      "K7710-HSDPA-IEC"};
  static const char* const t4410[] = {"Tramix 4410-5-RJ45-C",   "Tramix 4410-5-M12-C",
                                      "Tramix 4410-9-RJ45-C",   "Tramix 4410-9-M12-C",
                                      "Tramix 4410-5-RJ45-IEC", "Tramix 4410-5-M12-IEC",
                                      "Tramix 4410-9-RJ45-IEC", "Tramix 4410-9-M12-IEC"};
  if (hwid >= 0x0115 && hwid <= 0x0118) return k7710[hwid - 0x0115];
  if (hwid >= 0x0119 && hwid <= 0x011C) return std::string(k7710[hwid - 0x0119]) + "-T";
  if (hwid >= 0x0201 && hwid <= 0x0208) return t4410[hwid - 0x0201];
  if (hwid >= 0x0181 && hwid <= 0x0188) return std::string(t4410[hwid - 0x0181]) + "-T";
  return "";
}

// ---------------------------------------------------------------------------

size_t FrameAssembler::Feed(const uint8_t* data, size_t len) {
  size_t used = 0;
  while (!bad_ && !complete_ && used < len) {
    size_t take = std::min(need_ - size_, len - used);
    std::memcpy(buf_.data() + size_, data + used, take);
    size_ += take;
    used += take;
    if (size_ < need_) break;
    if (need_ == 7) {
      uint16_t proto = Be16(&buf_[2]);
      uint16_t length = Be16(&buf_[4]);
      if (proto != 0 || length < 2 || 6u + length > kMaxRequestFrame) {
        bad_ = true;
        break;
      }
      need_ = 6u + length;
      if (size_ == need_) complete_ = true;
    } else {
      complete_ = true;
    }
  }
  return used;
}

void FrameAssembler::Pop() {
  size_ = 0;
  need_ = 7;
  complete_ = false;
}

// ---------------------------------------------------------------------------

std::optional<RequestRule> RequestRule::Parse(std::string_view text) {
  RequestRule r;
  auto num = [](std::string_view s, int base, int& out) {
    if (s.empty() || s.size() > 6) return false;
    int v = 0;
    for (char c : s) {
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      v = v * base + d;
    }
    out = v;
    return true;
  };
  size_t hash = text.find('#');
  std::string_view head = text.substr(0, hash);
  if (hash != std::string_view::npos) {
    if (!num(text.substr(hash + 1), 10, r.occurrence) || r.occurrence < 1) return std::nullopt;
  }
  size_t colon = head.find(':');
  if (!num(head.substr(0, colon), 10, r.function) || r.function > 255) return std::nullopt;
  if (colon != std::string_view::npos) {
    if (!num(head.substr(colon + 1), 16, r.address) || r.address > 0xFFFF) return std::nullopt;
  }
  return r;
}

CommandFaults CommandFaults::FromJson(const nlohmann::json& deviceObject) {
  CommandFaults f;
  if (!deviceObject.is_object() || !deviceObject.contains("faults")) return f;
  const auto& j = deviceObject.at("faults");
  if (!j.is_object()) throw std::invalid_argument("faults must be an object");
  auto rules = [&](const char* key, std::vector<RequestRule>& out) {
    if (!j.contains(key)) return;
    const auto& a = j.at(key);
    if (!a.is_array()) throw std::invalid_argument(std::string("faults.") + key + " must be a list");
    for (const auto& e : a) {
      std::optional<RequestRule> r;
      if (e.is_string()) r = RequestRule::Parse(e.get<std::string>());
      else if (e.is_number_integer()) r = RequestRule::Parse(std::to_string(e.get<int>()));
      if (!r)
        throw std::invalid_argument(std::string("faults.") + key + ": bad rule " + e.dump() +
                                    " (want \"FC\", \"FC:ADDR\" or \"FC:ADDR#N\")");
      out.push_back(*r);
    }
  };
  auto flag = [&](const char* key, bool& out) {
    if (!j.contains(key)) return;
    if (!j.at(key).is_boolean()) throw std::invalid_argument(std::string("faults.") + key + " must be true or false");
    out = j.at(key).get<bool>();
  };
  auto integer = [&](const char* key, int& out, int lo, int hi) {
    if (!j.contains(key)) return;
    const auto& v = j.at(key);
    if (!v.is_number_integer() || v.get<long long>() < lo || v.get<long long>() > hi)
      throw std::invalid_argument(std::string("faults.") + key + " must be an integer " +
                                  std::to_string(lo) + ".." + std::to_string(hi));
    out = v.get<int>();
  };
  // The discovery side's keys share the object.
  static const char* const known[] = {"silent", "answer_always", "malformed", "wrong_apid", "delay_ms",
                                      "no_answer", "exception_on", "no_answer_on", "close_mid_reply_on",
                                      "close_mid_reply", "drop_after_fw_blocks", "reply_delay_ms",
                                      "split_replies", "split_pause_ms", "restart_offline_ms", "export_size",
                                      "padded_exception_on", "double_reply_on"};
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool ok = false;
    for (const char* k : known) ok = ok || it.key() == k;
    if (!ok) throw std::invalid_argument("faults: unknown key \"" + it.key() + "\"");
  }
  flag("no_answer", f.noAnswer);
  rules("exception_on", f.exceptionOn);
  rules("no_answer_on", f.noAnswerOn);
  rules("close_mid_reply_on", f.closeMidReplyOn);
  rules("padded_exception_on", f.paddedExceptionOn);
  rules("double_reply_on", f.doubleReplyOn);
  flag("close_mid_reply", f.closeMidReply);
  integer("drop_after_fw_blocks", f.dropAfterFwBlocks, 0, 1 << 24);
  integer("reply_delay_ms", f.replyDelayMs, 0, 600000);
  flag("split_replies", f.splitReplies);
  integer("split_pause_ms", f.splitPauseMs, 0, 60000);
  integer("restart_offline_ms", f.restartOfflineMs, 0, 600000);
  integer("export_size", f.exportSize, 0, 65535);
  return f;
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> ExceptionReply(const uint8_t* request, uint8_t code) {
  auto r = ReplyHeader(request, 3);
  r.push_back(static_cast<uint8_t>(request[7] | 0x80));
  r.push_back(code);
  return r;
}

std::vector<uint8_t> EchoReply(const uint8_t* request) {
  auto r = ReplyHeader(request, 6);
  r.insert(r.end(), request + 7, request + 12);
  return r;
}

std::string RenderConfig(const Device& d) {
  std::string tag = ModelTagForHwid(d.hwid);
  std::string text = d.configText.empty() ? std::string(kDefaultBody) : d.configText;
  const std::pair<const char*, std::string> live[] = {
      {"MOD_TYPE=", tag},
      {"SERVER_NAME=", ServerNameText(d)},
      {"FIRMWARE=", d.RevisionText()},
      {"IP_MODE=", std::to_string(d.addressMode)},
      {"IP_ADDRESS=", Dotted(d.LiveAddress())},
      {"NETMASK=", Dotted(d.netmask)},
      {"GATEWAY=", Dotted(d.gateway)},
  };
  // Replace the value of each live key where the text has it; prepend the
  // ones it lacks, so every export carries the identity and network lines.
  std::string head;
  for (const auto& [key, value] : live) {
    std::string_view tv(text);
    size_t pos = 0;
    bool found = false;
    while (pos <= tv.size()) {
      if (tv.compare(pos, std::strlen(key), key) == 0) {
        size_t b = pos + std::strlen(key);
        size_t e = tv.find_first_of("\r\n", b);
        if (e == std::string_view::npos) e = tv.size();
        text.replace(b, e - b, value);
        found = true;
        break;
      }
      size_t nl = tv.find('\n', pos);
      if (nl == std::string_view::npos) break;
      pos = nl + 1;
    }
    if (!found) head += std::string(key) + value + "\r\n";
  }
  text = head + text;
  if (!LineValue(text, "NET_CONFIG_OVERWRITE=")) text += "NET_CONFIG_OVERWRITE=1\r\n";
  return text;
}

ImportResult EvaluateImport(const Device& d, std::string_view text) {
  ImportResult r;
  std::string tag = ModelTagForHwid(d.hwid);
  size_t m = text.find("MOD_TYPE=");
  if (m != std::string_view::npos) {
    std::string_view got = text.substr(m + 9, 5);
    if (got.size() < 5 || tag.size() < 5 || got != std::string_view(tag).substr(0, 5)) {
      r.reason = "model type does not match " + tag;
      return r;
    }
  }
  r.accepted = true;
  size_t o = text.find("NET_CONFIG_OVERWRITE=");
  if (o == std::string_view::npos || o + 21 >= text.size() || text[o + 21] == '0') return r;
  r.ip = d.LiveAddress();
  r.netmask = d.netmask;
  r.gateway = d.gateway;
  const std::pair<const char*, Ip4*> keys[] = {
      {"IP_ADDRESS=", &r.ip}, {"NETMASK=", &r.netmask}, {"GATEWAY=", &r.gateway}};
  for (const auto& [key, dst] : keys) {
    auto v = LineValue(text, key);
    if (!v) continue;
    Ip4 a{};
    if (!ParseDotted(*v, a)) {
      r.accepted = false;
      r.reason = std::string("bad value for ") + key;
      return r;
    }
    if (*dst != a) r.networkChanged = true;
    *dst = a;
  }
  return r;
}

// ---------------------------------------------------------------------------

bool CommandEngine::Matches(const std::vector<RequestRule>& rules, uint8_t fc, int addr, int seen) const {
  for (const auto& r : rules) {
    if (r.function != fc) continue;
    if (r.address >= 0 && r.address != addr) continue;
    if (r.occurrence > 0 && r.occurrence != seen) continue;
    return true;
  }
  return false;
}

Outcome CommandEngine::Handle(const uint8_t* f, size_t len) {
  uint8_t fc = f[7];
  int addr = len >= 10 ? Be16(f + 8) : -1;
  int seen = ++seen_[static_cast<uint32_t>(fc) << 16 | static_cast<uint32_t>(addr & 0xFFFF)];

  Outcome silent;
  silent.wire = Outcome::Wire::Silent;
  if (faults_.noAnswer || Matches(faults_.noAnswerOn, fc, addr, seen)) return silent;
  if (Matches(faults_.exceptionOn, fc, addr, seen)) return Refuse(f, kExDeviceFailure);
  if (faults_.dropAfterFwBlocks >= 0 && fc == kFcWriteRegisters && addr == kRegFwBlock &&
      fwBlocks_ >= faults_.dropAfterFwBlocks) {
    Outcome drop;
    drop.wire = Outcome::Wire::Close;
    return drop;
  }
  Outcome o = Dispatch(f, len);
  if (Matches(faults_.paddedExceptionOn, fc, addr, seen)) {
    Outcome e = Refuse(f, kExDeviceFailure);
    if (e.reply.size() < o.reply.size()) e.reply.resize(o.reply.size(), 0);
    return e;
  }
  if (Matches(faults_.doubleReplyOn, fc, addr, seen)) {
    const std::vector<uint8_t> once = o.reply;
    o.reply.insert(o.reply.end(), once.begin(), once.end());
  }
  if (faults_.closeMidReply || Matches(faults_.closeMidReplyOn, fc, addr, seen)) {
    o.wire = Outcome::Wire::CloseMidReply;
    o.after = Outcome::After::None;  // the device went down before finishing the command
  }
  return o;
}

Outcome CommandEngine::Dispatch(const uint8_t* f, size_t len) {
  uint8_t fc = f[7];
  bool known = (fc >= kFcReadCoils && fc <= kFcWriteRegister) || fc == kFcDiagnostics ||
               fc == kFcWriteCoils || fc == kFcWriteRegisters;
  if (!known) return Refuse(f, kExIllegalFunction);
  bool multi = fc == kFcWriteCoils || fc == kFcWriteRegisters;
  if ((!multi && len != 12) || (multi && len < 13)) return Refuse(f, kExIllegalValue);
  uint16_t addr = Be16(f + 8);
  uint16_t count = Be16(f + 10);

  // Every command starts with the password; nothing else is served before it.
  if (!loggedIn_ && !(fc == kFcWriteRegisters && addr == kRegPassword)) {
    control_.LogNote("refused: not logged in");
    return Refuse(f, kExDeviceFailure);
  }

  switch (fc) {
    case kFcReadCoils:
    case kFcReadInputs: {
      if (count < 1 || count > 2000) return Refuse(f, kExIllegalValue);
      uint8_t zeros[250] = {};
      return ReadReply(f, zeros, (count + 7u) / 8u);
    }
    case kFcReadHolding:
      if (count < 1 || count > 125) return Refuse(f, kExIllegalValue);
      return ReadRegisters(f, addr, count);
    case kFcReadInputRegs: {
      if (count < 1 || count > 125) return Refuse(f, kExIllegalValue);
      uint8_t data[250] = {};
      for (uint16_t i = 0; i < count; ++i) {
        auto it = scratch_.find(static_cast<uint16_t>(addr + i));
        uint16_t v = it == scratch_.end() ? 0 : it->second;
        data[2 * i] = static_cast<uint8_t>(v >> 8);
        data[2 * i + 1] = static_cast<uint8_t>(v);
      }
      return ReadReply(f, data, 2u * count);
    }
    case kFcWriteCoil:
      if (count != 0xFF00 && count != 0x0000) return Refuse(f, kExIllegalValue);
      return Send(EchoReply(f));
    case kFcWriteRegister:
      return WriteRegister(f, addr, count);
    case kFcDiagnostics:
      return Diagnostics(f, addr, count);
    case kFcWriteCoils: {
      if (count < 1 || count > 1968 || f[12] != (count + 7u) / 8u || len != 13u + f[12])
        return Refuse(f, kExIllegalValue);
      return Send(EchoReply(f));
    }
    case kFcWriteRegisters:
      if (count < 1 || count > 125 || f[12] != 2u * count || len != 13u + f[12])
        return Refuse(f, kExIllegalValue);
      return WriteRegisters(f, addr, count, f + 13);
  }
  return Refuse(f, kExIllegalFunction);
}

Outcome CommandEngine::ReadRegisters(const uint8_t* f, uint16_t addr, uint16_t count) {
  uint8_t data[250] = {};
  if (addr == kRegAddressMode && count == 1) {
    data[1] = device_.addressMode;
    return ReadReply(f, data, 2);
  }
  if (addr == kRegCfgOutLength && count == 1) {
    outText_ = RenderConfig(device_);
    if (faults_.exportSize >= 0) {
      size_t want = static_cast<size_t>(faults_.exportSize);
      while (outText_.size() < want) {  // comment lines of up to 72 bytes
        size_t chunk = std::min<size_t>(72, want - outText_.size());
        std::string line(chunk, '.');
        line[0] = '#';
        if (chunk >= 3) {
          line[chunk - 2] = '\r';
          line[chunk - 1] = '\n';
        }
        outText_ += line;
      }
      outText_.resize(want);
    }
    if (outText_.size() > 0xFFFF) outText_.resize(0xFFFF);  // the length register has 16 bits
    outPos_ = 0;
    outActive_ = true;
    data[0] = static_cast<uint8_t>(outText_.size());
    data[1] = static_cast<uint8_t>(outText_.size() >> 8);
    return ReadReply(f, data, 2);
  }
  if (addr == kRegCfgOutBlock) {
    if (!outActive_) return Refuse(f, kExDeviceFailure);
    if (count > 115) return Refuse(f, kExIllegalValue);
    size_t n = std::min<size_t>(2u * count, outText_.size() - outPos_);
    std::memcpy(data, outText_.data() + outPos_, n);
    outPos_ += n;
    return ReadReply(f, data, 2u * count);
  }
  for (uint16_t i = 0; i < count; ++i) {
    auto it = scratch_.find(static_cast<uint16_t>(addr + i));
    uint16_t v = it == scratch_.end() ? 0 : it->second;
    data[2 * i] = static_cast<uint8_t>(v >> 8);
    data[2 * i + 1] = static_cast<uint8_t>(v);
  }
  return ReadReply(f, data, 2u * count);
}

Outcome CommandEngine::WriteRegister(const uint8_t* f, uint16_t addr, uint16_t value) {
  char note[96];
  switch (addr) {
    case kRegLocate:
      device_.locateValue = value;
      std::snprintf(note, sizeof note, "locate 0x%04X", value);
      control_.LogNote(note);
      return Send(EchoReply(f));
    case kRegFwOpen:  // opening write: forget any earlier, unfinished transfer
      fwConstant_ = fwLengthSet_ = fwFixed_ = fwCrcSet_ = false;
      fwImage_.clear();
      fwBlocks_ = 0;
      return Send(EchoReply(f));
    case kRegFwCrc:
      fwCrc_ = value;
      fwCrcSet_ = true;
      return Send(EchoReply(f));
    case kRegFwClose: {
      size_t expect = fwLength_ + (fwLength_ & 1u);  // the last register carries a pad byte
      const char* why = nullptr;
      if (!fwConstant_ || !fwLengthSet_ || !fwFixed_) why = "transfer not set up";
      else if (fwImage_.size() != expect) why = "image length differs from the announced length";
      else if (!fwCrcSet_) why = "no checksum";
      else if (DeviceCrc16(fwImage_.data(), fwLength_) != fwCrc_) why = "checksum mismatch";
      if (why) {
        control_.LogNote(std::string("firmware refused: ") + why);
        fwConstant_ = false;
        return Refuse(f, kExDeviceFailure);
      }
      // The new revision sits in image bytes 4 (minor << 4 | patch) and 5
      // (major), the layout the search answer uses; an image without the
      // "DAC!" header keeps the running revision.
      if (fwLength_ >= 32 && std::memcmp(fwImage_.data(), "DAC!", 4) == 0)
        device_.revision = static_cast<uint16_t>(fwImage_[4] | fwImage_[5] << 8);
      std::snprintf(note, sizeof note, "firmware installed %u bytes in %d blocks, revision %s",
                    fwLength_, fwBlocks_, device_.RevisionText().c_str());
      control_.LogNote(note);
      fwConstant_ = fwLengthSet_ = fwFixed_ = fwCrcSet_ = false;
      fwImage_.clear();
      fwImage_.shrink_to_fit();
      return Send(EchoReply(f));
    }
    case kRegCfgInLength:
      inLength_ = static_cast<uint16_t>(f[10] | f[11] << 8);
      inLengthSet_ = true;
      inText_.clear();
      return Send(EchoReply(f));
    case kRegCfgInClose: {
      if (!inLengthSet_) return Refuse(f, kExDeviceFailure);
      inLengthSet_ = false;
      // Only the low 16 bits of the length were announced; the blocks carry
      // the text rounded up to whole registers, which pins down the rest.
      size_t got = inText_.size();
      if (got < inLength_) {
        control_.LogNote("configuration refused: fewer bytes than announced");
        return Refuse(f, kExDeviceFailure);
      }
      size_t len = inLength_ + 65536u * ((got - inLength_) / 65536u);
      if (got - len > 1) {
        control_.LogNote("configuration refused: more bytes than announced");
        return Refuse(f, kExDeviceFailure);
      }
      std::string text = inText_.substr(0, len);
      inText_.clear();
      ImportResult r = EvaluateImport(device_, text);
      if (!r.accepted) {
        control_.LogNote("configuration refused: " + r.reason);
        return Refuse(f, kExDeviceFailure);
      }
      device_.configText = std::move(text);
      if (r.networkChanged) control_.SetPendingAddress(r.ip, r.netmask, r.gateway);
      std::snprintf(note, sizeof note, "configuration imported %zu bytes (announced %u)%s", len,
                    inLength_, r.networkChanged ? ", network settings pending" : "");
      control_.LogNote(note);
      return Send(EchoReply(f));
    }
    case kRegCfgOutClose:
      outActive_ = false;
      outText_.clear();
      return Send(EchoReply(f));
    default:
      scratch_[addr] = value;
      return Send(EchoReply(f));
  }
}

Outcome CommandEngine::WriteRegisters(const uint8_t* f, uint16_t addr, uint16_t count, const uint8_t* d) {
  size_t n = 2u * count;
  switch (addr) {
    case kRegPassword: {
      if (count != 5) return Refuse(f, kExIllegalValue);
      std::string want = device_.password.substr(0, 8);
      loggedIn_ = DecodeLoginBlock(d) == want;
      if (!loggedIn_) {
        control_.LogNote("login refused: wrong password");
        return Refuse(f, kExDeviceFailure);
      }
      return Send(EchoReply(f));
    }
    case kRegIpAddress: {
      if (count != 2) return Refuse(f, kExIllegalValue);
      if (device_.addressMode != 0) return Refuse(f, kExDeviceFailure);
      Ip4 ip{d[0], d[1], d[2], d[3]};
      control_.SetPendingAddress(ip, device_.netmask, device_.gateway);
      control_.LogNote("new address pending " + Dotted(ip));
      return Send(EchoReply(f));
    }
    case kRegFwConstant:
      if (count != 7 || std::memcmp(d, "TIRHoHo", 7) != 0) return Refuse(f, kExIllegalValue);
      fwConstant_ = true;
      fwLengthSet_ = fwFixed_ = fwCrcSet_ = false;
      fwImage_.clear();
      fwBlocks_ = 0;
      return Send(EchoReply(f));
    case kRegFwLength: {
      if (count != 2) return Refuse(f, kExIllegalValue);
      if (!fwConstant_) return Refuse(f, kExDeviceFailure);
      uint32_t len = static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
                     static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
      if (len > kMaxFirmwareImage) return Refuse(f, kExIllegalValue);
      fwLength_ = len;
      fwLengthSet_ = true;
      fwImage_.clear();
      fwImage_.reserve(len + 1);
      return Send(EchoReply(f));
    }
    case kRegFwFixed:
      if (count != 1 || d[0] != 0x00 || d[1] != 0x0F) return Refuse(f, kExIllegalValue);
      fwFixed_ = true;
      return Send(EchoReply(f));
    case kRegFwBlock:
      if (!fwConstant_ || !fwLengthSet_ || !fwFixed_) return Refuse(f, kExDeviceFailure);
      if (fwImage_.size() + n > static_cast<size_t>(fwLength_) + 1) return Refuse(f, kExIllegalValue);
      fwImage_.insert(fwImage_.end(), d, d + n);
      ++fwBlocks_;
      return Send(EchoReply(f));
    case kRegCfgInBlock:
      if (!inLengthSet_) return Refuse(f, kExDeviceFailure);
      if (inText_.size() + n > kMaxImportText) return Refuse(f, kExIllegalValue);
      inText_.append(reinterpret_cast<const char*>(d), n);
      return Send(EchoReply(f));
    default:
      for (uint16_t i = 0; i < count; ++i) scratch_[static_cast<uint16_t>(addr + i)] = Be16(d + 2 * i);
      return Send(EchoReply(f));
  }
}

Outcome CommandEngine::Diagnostics(const uint8_t* f, uint16_t sub, uint16_t value) {
  if (sub != kDiagRestartSub) return Refuse(f, kExIllegalFunction);
  if (value == kDiagRestart) {
    control_.LogNote("restart");
    return Send(EchoReply(f), Outcome::After::Restart);
  }
  if (value == kDiagFactoryReset) {
    control_.LogNote("factory reset");
    return Send(EchoReply(f), Outcome::After::FactoryReset);
  }
  return Refuse(f, kExIllegalValue);
}

}  // namespace orv::devsim
