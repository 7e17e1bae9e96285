// A stand-in console client for the tests: shows one X11 window the way a
// terminal does, or none.
//   fake_console_client exit             ends at once, no window
//   fake_console_client window TITLE CLASS PID EXIT_MS [TERM]
//     a window titled TITLE of WM_CLASS class CLASS, with _NET_WM_PID when
//     PID is 1; ends EXIT_MS after it is mapped (0: never); with TERM
//     "ignore-term" it ignores SIGTERM.
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "exit") == 0) return 0;
  if (std::strcmp(argv[1], "window") != 0 || argc < 6) return 2;
  const std::string title = argv[2], cls = argv[3];
  const bool pid = std::strcmp(argv[4], "1") == 0;
  const int exitMs = std::atoi(argv[5]);
  if (argc > 6 && std::strcmp(argv[6], "ignore-term") == 0) signal(SIGTERM, SIG_IGN);

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 3;
  xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t w = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, 0, 0, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    s->root_visual, 0, nullptr);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.size(),
                      title.data());
  const std::string wmClass = std::string("fake") + '\0' + cls + '\0';
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(),
                      wmClass.data());
  if (pid) {
    const char* name = "_NET_WM_PID";
    xcb_intern_atom_reply_t* a =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const uint32_t me = static_cast<uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a->atom, XCB_ATOM_CARDINAL, 32, 1, &me);
    std::free(a);
  }
  xcb_map_window(c, w);
  xcb_flush(c);
  if (exitMs > 0) {
    usleep(static_cast<useconds_t>(exitMs) * 1000);
    return 0;
  }
  for (;;) pause();
}
