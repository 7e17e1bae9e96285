// The console of a simulated device (telnet, TCP port 23): the option
// negotiation a telnet client expects, a banner, a password prompt with the
// echo turned off, and a small shell.
#include <cstdio>
#include <string>

#include "command_protocol.h"
#include "fleet.h"
#include "session.h"

namespace orv::devsim {

namespace {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OPT_ECHO = 1, OPT_SGA = 3;
constexpr size_t kMaxLine = 200;
constexpr int kMaxPasswordTries = 3;

std::string Printable(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    if (b == 0) break;
    out += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
  }
  return out;
}

const char* AddressModeName(uint8_t mode) {
  static const char* const names[] = {"fixed", "DHCP", "DHCP/BOOTP", "BOOTP", "PPPoE"};
  return mode < 5 ? names[mode] : "unknown";
}

class TelnetSession : public Session {
 public:
  TelnetSession(Device& device, Link& link, DeviceControl& control)
      : device_(device), link_(link), control_(control) {
    control_.LogNote("telnet connection");
    std::string model = ModelName(device_.hwid);
    if (model.empty()) model = "UNKNOWN";
    const std::string name = Printable(device_.serverName);
    Text("\r\n" + (name.empty() ? std::string("(no server name)") : name) + "\r\n" + model + "  firmware " +
         device_.RevisionText() + "  MAC " + device_.MacText() + "\r\n\r\n");
    // We echo (that is: nothing) while the password is typed; a client that
    // agrees hides it. Character at a time, so each key arrives as typed.
    Option(WILL, OPT_ECHO);
    Option(WILL, OPT_SGA);
    us_[OPT_ECHO] = us_[OPT_SGA] = true;
    Text("Password: ");
  }

  void OnData(const uint8_t* data, size_t len) override {
    for (size_t i = 0; i < len && !closed_; ++i) Byte(data[i]);
  }

 private:
  enum class In { kData, kIac, kOption, kSub, kSubIac };

  void Text(const std::string& s) { link_.Send(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  void Option(uint8_t verb, uint8_t option) {
    const uint8_t b[3] = {IAC, verb, option};
    link_.Send(b, 3);
  }

  void Byte(uint8_t b) {
    switch (in_) {
      case In::kData:
        if (b == IAC) in_ = In::kIac;
        else Data(b);
        return;
      case In::kIac:
        if (b == IAC) {
          in_ = In::kData;
          Data(b);
        } else if (b >= WILL && b <= DONT) {
          verb_ = b;
          in_ = In::kOption;
        } else if (b == SB) {
          in_ = In::kSub;
        } else {
          in_ = In::kData;  // NOP, AYT, IP and the like: nothing to do
        }
        return;
      case In::kOption:
        in_ = In::kData;
        Negotiate(verb_, b);
        return;
      case In::kSub:
        if (b == IAC) in_ = In::kSubIac;
        return;  // subnegotiations (terminal type, window size) are ignored
      case In::kSubIac:
        in_ = b == SE ? In::kData : In::kSub;
        return;
    }
  }

  // Answers only changes of state, so that two peers never loop.
  void Negotiate(uint8_t verb, uint8_t option) {
    switch (verb) {
      case DO:
        if (us_[option]) return;
        if (option == OPT_SGA || option == OPT_ECHO) {
          us_[option] = true;
          Option(WILL, option);
        } else if (!refusedUs_[option]) {
          refusedUs_[option] = true;
          Option(WONT, option);
        }
        return;
      case DONT:
        if (us_[option]) {
          us_[option] = false;
          Option(WONT, option);
        }
        return;
      case WILL:  // the client offers something; we need none of it
        if (!refusedHim_[option]) {
          refusedHim_[option] = true;
          Option(DONT, option);
        }
        return;
      case WONT:
        return;
    }
  }

  void Data(uint8_t b) {
    if (afterCr_) {
      afterCr_ = false;
      if (b == '\n' || b == 0) return;  // CR LF and CR NUL end one line
    }
    if (b == '\r' || b == '\n') {
      afterCr_ = b == '\r';
      if (echoing()) Text("\r\n");
      Line();
      return;
    }
    if (b == 0x08 || b == 0x7F) {
      if (!line_.empty()) {
        line_.pop_back();
        if (echoing()) Text("\b \b");
      }
      return;
    }
    if (b < 0x20 || b >= 0x7F) return;  // other control bytes and non-ASCII are dropped
    if (line_.size() >= kMaxLine) {
      tooLong_ = true;
      return;
    }
    line_ += static_cast<char>(b);
    if (echoing()) Text(std::string(1, static_cast<char>(b)));
  }

  // The password is never echoed; after the login we echo while the client
  // lets us (it may say DONT ECHO and echo locally instead).
  bool echoing() const { return loggedIn_ && us_[OPT_ECHO]; }

  void Line() {
    std::string line;
    line.swap(line_);
    const bool tooLong = tooLong_;
    tooLong_ = false;
    if (!loggedIn_) return Password(line, tooLong);
    if (tooLong) {
      Text("Error: line too long (at most " + std::to_string(kMaxLine) + " characters)\r\n");
      return Prompt();
    }
    const size_t b = line.find_first_not_of(' ');
    const size_t e = line.find_last_not_of(' ');
    const std::string cmd = b == std::string::npos ? std::string() : line.substr(b, e - b + 1);
    if (cmd.empty()) return Prompt();
    if (cmd == "help") {
      Text("Commands:\r\n  help     this list\r\n  show     the device's settings\r\n"
           "  restart  restart the device\r\n  exit     close the console\r\n");
    } else if (cmd == "show") {
      Show();
    } else if (cmd == "restart") {
      control_.LogNote("telnet restart");
      Text("Restarting...\r\n");
      control_.Restart(CommandFaults::FromJson(device_.raw).restartOfflineMs);
      closed_ = true;  // the restart drops this connection
      return;
    } else if (cmd == "exit" || cmd == "quit") {
      Text("Bye.\r\n");
      closed_ = true;
      link_.Close();
      return;
    } else {
      Text("Error: unknown command \"" + cmd + "\"; type help for the list\r\n");
    }
    Prompt();
  }

  void Password(const std::string& given, bool tooLong) {
    Text("\r\n");
    if (!tooLong && given == device_.password) {
      loggedIn_ = true;
      control_.LogNote("telnet login");
      // From here on we echo what is typed (the client keeps its own echo
      // off), so a terminal in character mode shows each key once.
      Text("Logged in. Type help for the list of commands.\r\n");
      return Prompt();
    }
    control_.LogNote("telnet wrong password");
    if (++failures_ >= kMaxPasswordTries) {
      Text("Wrong password. Too many tries, closing.\r\n");
      closed_ = true;
      link_.Close();
      return;
    }
    Text("Wrong password.\r\nPassword: ");
  }

  void Show() {
    char lock[8];
    std::snprintf(lock, sizeof lock, "%u", device_.lockMode);
    Text("Server name:  " + Printable(device_.serverName) + "\r\n" +
         "Model:        " + ModelName(device_.hwid) + "\r\n" +
         "MAC address:  " + device_.MacText() + "\r\n" +
         "Firmware:     " + device_.RevisionText() + "\r\n" +
         "IP address:   " + IpText(device_.LiveAddress()) + "\r\n" +
         "Netmask:      " + IpText(device_.netmask) + "\r\n" +
         "Gateway:      " + IpText(device_.gateway) + "\r\n" +
         "Address mode: " + AddressModeName(device_.addressMode) + "\r\n" +
         "Lock:         " + lock + "\r\n");
  }

  void Prompt() { Text(ModelName(device_.hwid) + "> "); }

  Device& device_;
  Link& link_;
  DeviceControl& control_;
  In in_ = In::kData;
  uint8_t verb_ = 0;
  bool us_[256] = {};          // options we have enabled
  bool refusedUs_[256] = {};   // options the client asked of us and we declined
  bool refusedHim_[256] = {};  // options the client offered and we declined
  bool loggedIn_ = false;
  bool afterCr_ = false;
  bool tooLong_ = false;
  bool closed_ = false;
  int failures_ = 0;
  std::string line_;
};

}  // namespace

std::unique_ptr<Session> MakeTelnetSession(Device& device, Link& link, DeviceControl& control) {
  return std::make_unique<TelnetSession>(device, link, control);
}

}  // namespace orv::devsim
