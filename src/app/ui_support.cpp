#include "app/ui_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QUrl>
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

namespace {
struct FileScriptState {
  bool enabled = false;
  std::deque<QString> answers;
  std::vector<FileChoice> asked;
  std::vector<QString> opened;
};
FileScriptState& Files() {
  static FileScriptState s;
  return s;
}

// A chooser that asks the close-query rule before it accepts a choice.
class TFileDialog : public QFileDialog {
 public:
  TFileDialog(QWidget* parent, const FileChoice& c) : QFileDialog(parent, c.caption, c.directory), c_(c) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    setFileMode(c.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The close-query rule asks about missing files itself.
    if (c.canClose && !c.save) setFileMode(QFileDialog::AnyFile);
    if (c.save) setOption(QFileDialog::DontConfirmOverwrite, c.canClose != nullptr);
    setNameFilters(NameFilters(c.filter));
    setDefaultSuffix(c.defaultSuffix);
  }
  void accept() override {
    const QStringList files = selectedFiles();
    if (c_.canClose && !files.isEmpty() && !c_.canClose(files.front())) return;
    QFileDialog::accept();
  }

 private:
  FileChoice c_;
};
}  // namespace

QStringList NameFilters(const QString& filter) {
  QStringList out;
  const QStringList parts = filter.split('|');
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& name = parts[i];
    out << (name.contains('(') ? name : name + " (" + parts[i + 1] + ")");
  }
  if (out.isEmpty() && !filter.isEmpty()) out << filter;
  return out;
}

QString ChooseFile(QWidget* parent, const FileChoice& choice) {
  ORV_TRACE("ChooseFile");
  FileScriptState& s = Files();
  if (s.enabled) {
    s.asked.push_back(choice);
    while (!s.answers.empty()) {
      QString path = s.answers.front();
      s.answers.pop_front();
      if (path.isEmpty()) return QString();
      if (!choice.canClose || choice.canClose(path)) return path;
    }
    return QString();
  }
  TFileDialog dialog(parent, choice);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

void FileScript::Enable() {
  Files() = FileScriptState{};
  Files().enabled = true;
}
void FileScript::Disable() { Files() = FileScriptState{}; }
bool FileScript::Enabled() { return Files().enabled; }
void FileScript::Answer(const QString& path) { Files().answers.push_back(path); }
std::vector<FileChoice>& FileScript::Asked() { return Files().asked; }
std::vector<QString>& FileScript::Opened() { return Files().opened; }

void OpenTextFile(const QString& path) {
  if (Files().enabled) {
    Files().opened.push_back(path);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString AskText(QWidget* parent, const QString& caption, const QString& label, const QString& initial) {
  FileScriptState& s = Files();
  if (s.enabled) {
    if (s.answers.empty()) return QString();
    QString a = s.answers.front();
    s.answers.pop_front();
    return a;
  }
  bool ok = false;
  const QString text = QInputDialog::getText(parent, caption, label, QLineEdit::Normal, initial, &ok);
  return ok ? text : QString();
}

void SetAccessible(QWidget* widget, const QString& name) {
  if (!widget) return;
  widget->setAccessibleName(name);
  if (widget->toolTip().isEmpty() && widget->property("text").toString().isEmpty()) widget->setToolTip(name);
}

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
