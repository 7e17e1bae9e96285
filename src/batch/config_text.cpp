#include "batch/config_text.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace orv {
namespace {
std::string ModelDigits(const std::string& modelName) {
  // Characters 2 to 5 of the model name ("7710" of "K7710-GPRS-C").
  return modelName.size() > 1 ? modelName.substr(1, 4) : std::string();
}
}  // namespace

std::string_view ConfigSearchText(std::span<const uint8_t> buffer) {
  if (buffer.empty()) return {};
  const char* p = reinterpret_cast<const char*>(buffer.data());
  const void* nul = std::memchr(p, 0, buffer.size());
  const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : buffer.size();
  return std::string_view(p, n);
}

bool ConfigModelMatches(std::span<const uint8_t> buffer, const std::string& modelName) {
  const std::string_view text = ConfigSearchText(buffer);
  const size_t at = text.find(kModTypeKey);
  if (at == std::string_view::npos) return true;
  const size_t tag = at + std::strlen(kModTypeKey);
  if (text.size() - tag < kModTypeCompareLength || modelName.size() < kModTypeCompareLength) {
    return false;
  }
  return text.compare(tag, kModTypeCompareLength, modelName, 0, kModTypeCompareLength) == 0;
}

bool ApplyNetConfigRule(std::vector<uint8_t>& buffer, bool updateNetwork) {
  if (updateNetwork) return false;
  const std::string_view text = ConfigSearchText(buffer);
  const size_t at = text.find(kNetConfigKey);
  if (at == std::string_view::npos) return false;
  const size_t value = at + std::strlen(kNetConfigKey);
  if (value >= buffer.size()) return false;  // the key ends the file
  if (buffer[value] == '0') return false;
  buffer[value] = '0';
  return true;
}

ConfigLoad LoadConfigFile(const std::string& path, std::vector<uint8_t>& out) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) return ConfigLoad::CannotOpen;
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return ConfigLoad::CannotOpen;
  const long size = std::ftell(f.get());
  if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) return ConfigLoad::CannotOpen;
  if (size > kConfigMaxFileSize) return ConfigLoad::TooLarge;
  out.resize(static_cast<size_t>(size));
  const size_t got = std::fread(out.data(), 1, out.size(), f.get());
  out.resize(got);
  if (out.empty()) return ConfigLoad::Empty;
  if (static_cast<int64_t>(out.size()) > kConfigMaxImportLength) return ConfigLoad::TooLongForDevice;
  return ConfigLoad::Ok;
}

const char* ConfigLoadText(ConfigLoad load) {
  switch (load) {
    case ConfigLoad::Ok: return "";
    case ConfigLoad::CannotOpen: return "cannot open the file";
    case ConfigLoad::TooLarge: return "file too large";
    case ConfigLoad::Empty: return "the file is empty";
    case ConfigLoad::TooLongForDevice: return "the file is longer than 65535 bytes, the most a device takes";
  }
  return "";
}

bool ConfigHasModelType(std::span<const uint8_t> buffer) {
  return ConfigSearchText(buffer).find(kModTypeKey) != std::string_view::npos;
}

std::string ExportSingleFileName(const std::string& modelName) {
  return "qx" + ModelDigits(modelName) + ".txt";
}

std::string ExportDeviceFileName(const std::string& modelName, const std::string& macText) {
  return "qx" + ModelDigits(modelName) + "_" + macText + ".txt";
}

std::string ExportWithTxtExtension(const std::string& chosen) {
  return chosen.find(".txt") == std::string::npos ? chosen + ".txt" : chosen;
}

std::string ExportDevicePath(const std::string& dir, const std::string& modelName,
                             const std::string& macText) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + ExportDeviceFileName(modelName, macText);
}

}  // namespace orv
