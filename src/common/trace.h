#pragma once
// Diagnostic trace hook. The sink is empty by default, so trace calls cost a
// function call and nothing else; orvistarctl --trace points it at stderr.
#include <functional>
#include <string>

namespace orv {

using TraceSink = std::function<void(const std::string&)>;

// Installs the sink (an empty function restores the silent default).
void SetTraceSink(TraceSink sink);
bool TraceEnabled();

// Formats "%s Ln%d : %s\r\n" with file, line and message and hands it to the sink.
void TraceLine(const char* file, int line, const std::string& msg);

// Hands text to the sink unchanged (multi-line dumps such as hex traces).
void TraceRaw(const std::string& text);

}  // namespace orv

#define ORV_TRACE(msg)                                   \
  do {                                                   \
    if (::orv::TraceEnabled()) ::orv::TraceLine(__FILE__, __LINE__, (msg)); \
  } while (0)
