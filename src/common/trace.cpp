#include "common/trace.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace orv {
namespace {
std::mutex g_mutex;
TraceSink g_sink;
std::atomic<bool> g_enabled{false};
}  // namespace

void SetTraceSink(TraceSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
  g_enabled = static_cast<bool>(g_sink);
}

bool TraceEnabled() { return g_enabled.load(std::memory_order_relaxed); }

void TraceLine(const char* file, int line, const std::string& msg) {
  std::string text(file);
  text += " Ln" + std::to_string(line) + " : " + msg + "\r\n";
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) g_sink(text);
}

void TraceRaw(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) g_sink(text);
}

}  // namespace orv
