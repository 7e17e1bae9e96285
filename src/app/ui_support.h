#pragma once
// Small services every window of the desktop program shares: the message box
// service (scriptable, so dialog tests can answer boxes and read what was
// shown), the hourglass guard, the banner picture and the program directory.
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace orv::ui {

// Icon kinds of a message box.
enum class MsgIcon { None, Information, Warning, Error, Question };

// Button sets and the results ShowMessage returns (one bit per button).
enum MsgButton : int {
  MB_OK = 0x01,
  MB_CANCEL = 0x02,
  MB_YES = 0x04,
  MB_NO = 0x08,
  MB_ABORT = 0x10,
  MB_RETRY = 0x20,
  MB_IGNORE = 0x40,
};
constexpr int MB_OKCANCEL = MB_OK | MB_CANCEL;
constexpr int MB_YESNO = MB_YES | MB_NO;
constexpr int MB_YESNOCANCEL = MB_YES | MB_NO | MB_CANCEL;

// Shows a modal message box (the text as plain text, never as markup) and
// returns the button pressed (one MB_* value). Closing the box without a
// button gives MB_CANCEL when it has one, else MB_NO when it has one, else MB_OK.
int ShowMessage(QWidget* parent, const QString& text, const QString& caption = QString(),
                MsgIcon icon = MsgIcon::None, int buttons = MB_OK);

// A message as it was shown.
struct ShownMessage {
  QString text;
  QString caption;
  MsgIcon icon = MsgIcon::None;
  int buttons = MB_OK;
};

// Process-wide scripting hook for tests. While scripting is on no box is
// shown: every message is recorded and answered from the queue; with an empty
// queue the answer is the first button of the set in MB_* order (OK, Cancel,
// Yes, No, ...), except that a Yes/No set answers Yes.
class MessageScript {
 public:
  static void Enable();   // start scripting, clear queue and record
  static void Disable();  // back to real boxes
  static bool Enabled();
  static void Answer(int button);           // queue one answer
  static std::vector<ShownMessage>& Shown(); // every message since Enable
  static void Clear();                       // empty queue and record
};

// A file chooser: caption, a filter in the "Description|*.ext|..." form, the
// extension added to a typed name without one, the folder to start in, and
// the close-query rule (called with the chosen path; false keeps the chooser
// open for another choice).
struct FileChoice {
  QString caption;
  QString filter;
  QString defaultSuffix;
  QString directory;
  bool save = false;
  std::function<bool(const QString& path)> canClose;
};

// Shows the chooser modally; returns the chosen path, or an empty text when
// the user cancelled.
QString ChooseFile(QWidget* parent, const FileChoice& choice);
// "Description|*.ext|Other|*.x" as Qt name filters ("Description (*.ext)").
QStringList NameFilters(const QString& filter);

// Scripting hook of the choosers, like MessageScript: while on, no chooser is
// shown; each choice takes paths from the queue (an empty path cancels) until
// one passes the close-query rule; an empty queue cancels.
class FileScript {
 public:
  static void Enable();
  static void Disable();
  static bool Enabled();
  static void Answer(const QString& path);
  static std::vector<FileChoice>& Asked();  // every chooser opened since Enable
  static std::vector<QString>& Opened();    // files handed to the text editor
};

// Opens a text file in the desktop's default editor without waiting for it
// (recorded instead while FileScript is on).
void OpenTextFile(const QString& path);

// Asks for one line of text; empty when cancelled. While FileScript is on,
// the answer is the next queued one.
QString AskText(QWidget* parent, const QString& caption, const QString& label, const QString& initial);

// Sets the accessible name of a widget to its caption or hint, so screen
// readers and tests driving the window from outside find it.
void SetAccessible(QWidget* widget, const QString& name);

// Shows an error that escaped an event handler (the application's exception
// display): its text in an error box with an OK button.
void ShowException(QWidget* parent, const std::exception& e);

// Shows the wait cursor for its lifetime, on every path out of a scope.
class HourglassGuard {
 public:
  HourglassGuard();
  ~HourglassGuard();
  HourglassGuard(const HourglassGuard&) = delete;
  HourglassGuard& operator=(const HourglassGuard&) = delete;
};

// Decodes a JPEG file into an RGB image. A missing, empty, truncated or
// corrupt file (or one larger than kMaxBannerBytes or with more than
// kMaxBannerPixels pixels) gives a null image.
QImage LoadBanner(const QString& path);
QImage DecodeJpeg(const unsigned char* data, size_t size);
constexpr size_t kMaxBannerBytes = 16u * 1024u * 1024u;
constexpr unsigned long long kMaxBannerPixels = 16ull * 1024ull * 1024ull;

// The banner picture shown in the views' caption bars (null when missing) and
// the program's directory (with a trailing '/').
extern QImage BannerImage;
extern QString szAppPath;

// BannerImage as a pixmap, converted once and shared by every view that
// shows it (a copy per device view would cost its full size each time).
// Null when there is no banner. Needs a QGuiApplication.
QPixmap BannerPixmap();

// Sets szAppPath from the running program's location and loads
// szAppPath + "image/bar.jpg" into BannerImage. Needs a QCoreApplication.
void InitAppPaths();

}  // namespace orv::ui
