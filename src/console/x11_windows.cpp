#include "console/x11_windows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace orv::console {

namespace {
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T>
Reply<T> Own(T* p) {
  return Reply<T>(p, &std::free);
}
}  // namespace

XConnection::XConnection(const char* display) {
  int screenNo = 0;
  xcb_connection_t* c = xcb_connect(display, &screenNo);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    return;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNo && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(c);
    return;
  }
  conn_ = c;
  root_ = it.data->root;
  atomPid_ = Atom("_NET_WM_PID");
  atomNetName_ = Atom("_NET_WM_NAME");
  atomUtf8_ = Atom("UTF8_STRING");
}

XConnection::~XConnection() {
  if (conn_) xcb_disconnect(conn_);
}

uint32_t XConnection::Atom(const char* name) {
  auto r = Own(xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, std::strlen(name), name), nullptr));
  return r ? r->atom : static_cast<uint32_t>(XCB_ATOM_NONE);
}

std::vector<XWindow> XConnection::Children(XWindow w) {
  std::vector<XWindow> out;
  if (!conn_) return out;
  auto r = Own(xcb_query_tree_reply(conn_, xcb_query_tree(conn_, w), nullptr));
  if (!r) return out;
  const xcb_window_t* kids = xcb_query_tree_children(r.get());
  out.assign(kids, kids + xcb_query_tree_children_length(r.get()));
  return out;
}

XWindow XConnection::Parent(XWindow w) {
  if (!conn_) return 0;
  auto r = Own(xcb_query_tree_reply(conn_, xcb_query_tree(conn_, w), nullptr));
  return r ? r->parent : 0;
}

std::optional<pid_t> XConnection::Pid(XWindow w) {
  if (!conn_ || atomPid_ == XCB_ATOM_NONE) return std::nullopt;
  auto r = Own(xcb_get_property_reply(
      conn_, xcb_get_property(conn_, 0, w, atomPid_, XCB_ATOM_CARDINAL, 0, 1), nullptr));
  if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4) return std::nullopt;
  uint32_t v;
  std::memcpy(&v, xcb_get_property_value(r.get()), 4);
  return static_cast<pid_t>(v);
}

std::string XConnection::StringProperty(XWindow w, uint32_t property, uint32_t type) {
  if (!conn_ || property == XCB_ATOM_NONE) return {};
  // Titles and class names are short; 1 KiB is plenty and bounds the read.
  auto r = Own(xcb_get_property_reply(conn_, xcb_get_property(conn_, 0, w, property, type, 0, 256),
                                      nullptr));
  if (!r || r->format != 8) return {};
  const int n = xcb_get_property_value_length(r.get());
  if (n <= 0) return {};
  return std::string(static_cast<const char*>(xcb_get_property_value(r.get())), static_cast<size_t>(n));
}

std::string XConnection::Title(XWindow w) {
  std::string t = StringProperty(w, atomNetName_, atomUtf8_);
  if (t.empty()) t = StringProperty(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
  return t;
}

std::string XConnection::ClassName(XWindow w) {
  // WM_CLASS holds "instance\0class\0".
  const std::string v = StringProperty(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
  const size_t z = v.find('\0');
  if (z == std::string::npos) return {};
  std::string cls = v.substr(z + 1);
  if (!cls.empty() && cls.back() == '\0') cls.pop_back();
  return cls;
}

bool XConnection::Exists(XWindow w) {
  if (!conn_ || !w) return false;
  auto r = Own(xcb_get_window_attributes_reply(conn_, xcb_get_window_attributes(conn_, w), nullptr));
  return r != nullptr;
}

bool XConnection::Viewable(XWindow w) {
  if (!conn_ || !w) return false;
  auto r = Own(xcb_get_window_attributes_reply(conn_, xcb_get_window_attributes(conn_, w), nullptr));
  return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::optional<XConnection::Size> XConnection::Geometry(XWindow w) {
  if (!conn_ || !w) return std::nullopt;
  auto r = Own(xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, w), nullptr));
  if (!r) return std::nullopt;
  return Size{r->width, r->height};
}

bool XConnection::Check(unsigned int sequence) {
  xcb_void_cookie_t cookie{sequence};
  xcb_generic_error_t* e = xcb_request_check(conn_, cookie);
  if (!e) return true;
  std::free(e);
  return false;
}

bool XConnection::Reparent(XWindow w, XWindow parent) {
  if (!conn_ || !w || !parent) return false;
  return Check(xcb_reparent_window_checked(conn_, w, parent, 0, 0).sequence);
}

bool XConnection::Map(XWindow w) {
  if (!conn_ || !w) return false;
  return Check(xcb_map_window_checked(conn_, w).sequence);
}

bool XConnection::MoveResize(XWindow w, int x, int y, int width, int height) {
  if (!conn_ || !w || width <= 0 || height <= 0) return false;
  const uint32_t values[4] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                              static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  const uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                        XCB_CONFIG_WINDOW_HEIGHT;
  return Check(xcb_configure_window_checked(conn_, w, mask, values).sequence);
}

namespace {
// Visits the top-level windows, the children of each (a window manager's
// frame holds the client), then the children of `also`; stops at the first
// window `match` accepts.
XWindow Search(XConnection& x, XWindow also, const std::function<bool(XWindow)>& match) {
  if (!x.Ok()) return 0;
  for (XWindow top : x.Children(x.Root())) {
    if (match(top)) return top;
  }
  for (XWindow top : x.Children(x.Root())) {
    for (XWindow kid : x.Children(top)) {
      if (match(kid)) return kid;
    }
  }
  if (also) {
    for (XWindow kid : x.Children(also)) {
      if (match(kid)) return kid;
    }
  }
  return 0;
}
}  // namespace

XWindow FindWindowByPid(XConnection& x, pid_t pid, XWindow also) {
  if (pid <= 0) return 0;
  return Search(x, also, [&](XWindow w) {
    auto p = x.Pid(w);
    return p && *p == pid;
  });
}

XWindow FindWindowByTitle(XConnection& x, const std::string& title, const std::string& className,
                          XWindow also) {
  if (title.empty()) return 0;
  return Search(x, also, [&](XWindow w) {
    return x.Title(w) == title && (className.empty() || x.ClassName(w) == className);
  });
}

}  // namespace orv::console
