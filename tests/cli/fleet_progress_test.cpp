// The live progress of device runs: what a terminal shows, what a log gets.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <string>

#include "cli/fleet_progress.h"

namespace orv::cli {
namespace {

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[512];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  return s;
}

TEST(FleetProgress, TerminalBlockAndPlainLines) {
  // On a terminal: a line per device under way and the overall line.
  std::FILE* err = std::tmpfile();
  std::FILE* out = std::tmpfile();
  {
    FleetProgress p(err, true, 3, 200, 230);
    p.Started(0, "00-0A-1B-2C-3D-01", "10.77.0.11");
    p.Started(2, "00-0A-1B-2C-3D-03", "192.168.127.254");
    p.Blocks(0, 50);
    p.Countdown(2, 4);
    auto lines = p.Lines(FleetProgress::Clock::now() + std::chrono::seconds(2));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("00-0A-1B-2C-3D-01  10.77.0.11  block 50/200   25%"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("KiB/s"), std::string::npos);
    EXPECT_NE(lines[1].find("192.168.127.254  restarting 4"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].rfind("0/3 devices done, 00:02 elapsed, estimating", 0), 0u) << lines[2];
    EXPECT_LE(p.Lines(FleetProgress::Clock::now(), 20)[0].size(), 19u);  // never wraps
    p.Finished(0, "00-0A-1B-2C-3D-01  10.77.0.11  Success  0", out);
    lines = p.Lines(FleetProgress::Clock::now() + std::chrono::seconds(10));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("1/3 devices done"), std::string::npos);
    EXPECT_NE(lines[1].find("about 00:20 left"), std::string::npos) << lines[1];
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the ticker draws
  }
  EXPECT_EQ(Contents(out), "00-0A-1B-2C-3D-01  10.77.0.11  Success  0\n");
  const std::string drawn = Contents(err);
  EXPECT_NE(drawn.find("restarting 4"), std::string::npos);
  EXPECT_EQ(drawn.substr(drawn.size() - 4), "A\x1b[J") << "the block is cleared at the end";
  std::fclose(err);
  std::fclose(out);

  // Not a terminal: plain lines, no controls.
  err = std::tmpfile();
  {
    FleetProgress p(err, false, 1, 200, 230);
    p.Started(0, "00-0A-1B-2C-3D-01", "10.77.0.11");
    p.Blocks(0, 200);
    p.Countdown(0, 6);
    p.Countdown(0, 5);
    p.Countdown(0, -1);
    p.Finished(0, "", nullptr);
  }
  EXPECT_EQ(Contents(err),
            "00-0A-1B-2C-3D-01: waiting for the device to restart\n00-0A-1B-2C-3D-01: 200 of 200 blocks sent\n");
  std::fclose(err);
}

}  // namespace
}  // namespace orv::cli
