#include "app/ui_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

#include "common/trace.h"

namespace orv::ui {

QImage BannerImage;
QString szAppPath;

namespace {

struct ScriptState {
  bool enabled = false;
  std::deque<int> answers;
  std::vector<ShownMessage> shown;
};
ScriptState& Script() {
  static ScriptState s;
  return s;
}

int DefaultAnswer(int buttons) {
  if ((buttons & MB_YES) && (buttons & MB_NO)) return MB_YES;
  for (int bit = MB_OK; bit <= MB_IGNORE; bit <<= 1)
    if (buttons & bit) return bit;
  return MB_OK;
}

int EscapeAnswer(int buttons) {
  if (buttons & MB_CANCEL) return MB_CANCEL;
  if (buttons & MB_NO) return MB_NO;
  return MB_OK;
}

struct ButtonMap {
  int bit;
  QMessageBox::StandardButton qt;
};
constexpr ButtonMap kButtons[] = {
    {MB_OK, QMessageBox::Ok},         {MB_CANCEL, QMessageBox::Cancel},
    {MB_YES, QMessageBox::Yes},       {MB_NO, QMessageBox::No},
    {MB_ABORT, QMessageBox::Abort},   {MB_RETRY, QMessageBox::Retry},
    {MB_IGNORE, QMessageBox::Ignore},
};

}  // namespace

void MessageScript::Enable() {
  Script() = ScriptState{};
  Script().enabled = true;
}
void MessageScript::Disable() { Script() = ScriptState{}; }
bool MessageScript::Enabled() { return Script().enabled; }
void MessageScript::Answer(int button) { Script().answers.push_back(button); }
std::vector<ShownMessage>& MessageScript::Shown() { return Script().shown; }
void MessageScript::Clear() {
  Script().answers.clear();
  Script().shown.clear();
}

int ShowMessage(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                int buttons) {
  ORV_TRACE("ShowMessage");
  if (buttons == 0) buttons = MB_OK;
  ScriptState& s = Script();
  if (s.enabled) {
    s.shown.push_back({text, caption, icon, buttons});
    if (s.answers.empty()) return DefaultAnswer(buttons);
    int answer = s.answers.front();
    s.answers.pop_front();
    return answer;
  }

  QMessageBox box(parent);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setWindowTitle(caption.isEmpty() ? QCoreApplication::applicationName() : caption);
  switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  QMessageBox::StandardButtons set;
  for (const ButtonMap& b : kButtons)
    if (buttons & b.bit) set |= b.qt;
  box.setStandardButtons(set);
  for (const ButtonMap& b : kButtons)
    if (buttons & b.bit) {
      box.setDefaultButton(b.qt);
      break;
    }
  const int escape = EscapeAnswer(buttons);
  for (const ButtonMap& b : kButtons)
    if (b.bit == escape && (buttons & b.bit)) box.setEscapeButton(b.qt);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const ButtonMap& b : kButtons)
    if ((buttons & b.bit) && clicked && clicked == box.button(b.qt)) return b.bit;
  return escape;
}

void ShowException(QWidget* parent, const std::exception& e) {
  ShowMessage(parent, QString::fromLocal8Bit(e.what()), QString(), MsgIcon::Error, MB_OK);
}

HourglassGuard::HourglassGuard() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
HourglassGuard::~HourglassGuard() { QApplication::restoreOverrideCursor(); }

// ---- JPEG decoding ------------------------------------------------------

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: it
// jumps back to the decoder's set-up point. Only plain data lives in the frame
// between setjmp and longjmp; everything with a destructor is held through a
// pointer that does not change after setjmp.
struct JpegErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorMgr*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

extern "C" void JpegSilentMessage(j_common_ptr) {}

struct DecodeState {
  jpeg_decompress_struct cinfo{};
  JpegErrorMgr err{};
  QImage image;
  bool created = false;
  ~DecodeState() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

bool DecodeInto(DecodeState* st, const unsigned char* data, size_t size) {
  st->cinfo.err = jpeg_std_error(&st->err.pub);
  st->err.pub.error_exit = JpegErrorExit;
  st->err.pub.output_message = JpegSilentMessage;
  if (setjmp(st->err.jump)) return false;

  jpeg_create_decompress(&st->cinfo);
  st->created = true;
  jpeg_mem_src(&st->cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&st->cinfo, TRUE) != JPEG_HEADER_OK) return false;
  st->cinfo.out_color_space = JCS_RGB;
  const unsigned long long pixels =
      static_cast<unsigned long long>(st->cinfo.image_width) * st->cinfo.image_height;
  if (pixels == 0 || pixels > kMaxBannerPixels) return false;
  jpeg_start_decompress(&st->cinfo);
  if (st->cinfo.output_components != 3) return false;
  st->image = QImage(static_cast<int>(st->cinfo.output_width),
                     static_cast<int>(st->cinfo.output_height), QImage::Format_RGB888);
  if (st->image.isNull()) return false;
  while (st->cinfo.output_scanline < st->cinfo.output_height) {
    JSAMPROW row = st->image.scanLine(static_cast<int>(st->cinfo.output_scanline));
    if (jpeg_read_scanlines(&st->cinfo, &row, 1) != 1) return false;
  }
  // A truncated stream is padded by the library with a warning; treat it as
  // corrupt rather than showing a half-grey banner.
  if (st->err.pub.num_warnings > 0) return false;
  jpeg_finish_decompress(&st->cinfo);
  return true;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, size_t size) {
  if (!data || size == 0 || size > kMaxBannerBytes) return QImage();
  auto st = std::make_unique<DecodeState>();
  if (!DecodeInto(st.get(), data, size)) return QImage();
  return std::move(st->image);
}

QImage LoadBanner(const QString& path) {
  ORV_TRACE("LoadBanner");
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QImage();
  if (f.size() <= 0 || f.size() > static_cast<qint64>(kMaxBannerBytes)) return QImage();
  const QByteArray bytes = f.readAll();
  return DecodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()),
                    static_cast<size_t>(bytes.size()));
}

QPixmap BannerPixmap() {
  // Held until the process ends, so it is never destroyed after the
  // application object.
  static QPixmap* pixmap = new QPixmap;
  static qint64 key = 0;
  if (BannerImage.isNull()) return QPixmap();
  if (pixmap->isNull() || key != BannerImage.cacheKey()) {
    *pixmap = QPixmap::fromImage(BannerImage);
    key = BannerImage.cacheKey();
  }
  return *pixmap;
}

void InitAppPaths() {
  szAppPath = QCoreApplication::applicationDirPath();
  if (!szAppPath.endsWith('/')) szAppPath += '/';
  BannerImage = LoadBanner(szAppPath + "image/bar.jpg");
}

}  // namespace orv::ui
