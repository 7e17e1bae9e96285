#pragma once
// The few X11 operations the console needs, over one xcb connection of its
// own (xcb connections may be used from any thread).
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace orv::console {

using XWindow = uint32_t;  // 0: none

class XConnection {
 public:
  // Opens `display`, or $DISPLAY when null; Ok() tells whether it worked.
  explicit XConnection(const char* display = nullptr);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  bool Ok() const { return conn_ != nullptr; }
  XWindow Root() const { return root_; }

  std::vector<XWindow> Children(XWindow w);       // bottom to top; empty when w is gone
  std::optional<pid_t> Pid(XWindow w);            // _NET_WM_PID
  std::string Title(XWindow w);                   // _NET_WM_NAME, else WM_NAME
  std::string ClassName(XWindow w);               // the class half of WM_CLASS
  bool Exists(XWindow w);
  bool Viewable(XWindow w);
  XWindow Parent(XWindow w);                      // 0 when w is gone
  struct Size {
    int width = 0, height = 0;
  };
  std::optional<Size> Geometry(XWindow w);

  // Each waits for the server's answer, so a failure (a window that is gone)
  // is reported as false rather than lost.
  bool Reparent(XWindow w, XWindow parent);  // to (0, 0) of parent
  bool Map(XWindow w);
  bool MoveResize(XWindow w, int x, int y, int width, int height);

 private:
  uint32_t Atom(const char* name);
  std::string StringProperty(XWindow w, uint32_t property, uint32_t type);
  bool Check(unsigned int sequence);

  xcb_connection_t* conn_ = nullptr;
  XWindow root_ = 0;
  uint32_t atomPid_ = 0, atomNetName_ = 0, atomUtf8_ = 0;
};

// The first window, among the top-level windows (and their children, where a
// window manager has framed them) and then the children of `also`, whose
// _NET_WM_PID is `pid`.
XWindow FindWindowByPid(XConnection& x, pid_t pid, XWindow also = 0);
// The same places, the first window titled `title` and, unless `className`
// is empty, of that WM_CLASS class.
XWindow FindWindowByTitle(XConnection& x, const std::string& title, const std::string& className,
                          XWindow also = 0);

}  // namespace orv::console
