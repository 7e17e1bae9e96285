#include "console/ui/frm_nx9000.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/ui_support.h"
#include "common/trace.h"
#include "inventory/name_tables.h"

namespace orv::ui {

namespace {
ConsoleProcessFactory& Factory() {
  static ConsoleProcessFactory f;
  return f;
}

// The reconnect glyph: a circular arrow; the second state is the pressed look.
QIcon ReconnectIcon() {
  // Drawn once and shared by every frame; kept until the process ends (never
  // destroyed after the application object).
  static QIcon* shared = nullptr;
  if (shared) return *shared;
  shared = new QIcon;
  QIcon& icon = *shared;
  for (int state = 0; state < 2; ++state) {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = state == 0 ? QColor(0, 110, 0) : QColor(0, 70, 160);
    p.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 280 * 16);
    p.setBrush(c);
    p.setPen(Qt::NoPen);
    const QPointF tip[3] = {QPointF(13, 1), QPointF(19, 5), QPointF(13, 9)};
    p.drawPolygon(tip, 3);
    icon.addPixmap(pm, state == 0 ? QIcon::Normal : QIcon::Active);
  }
  return icon;
}
}  // namespace

void SetConsoleProcessFactory(ConsoleProcessFactory factory) { Factory() = std::move(factory); }

TfmNx9000::TfmNx9000(TIOMod* module) : QFrame(nullptr), module_(module) {
  ORV_TRACE("TfmNx9000::TfmNx9000");
  setObjectName("TfmNx9000");
  setVisible(false);

  Panel4 = new QFrame(this);
  Panel4->setObjectName("Panel4");
  Panel4->setFixedHeight(56);
  Image1 = new QLabel(Panel4);
  Image1->setObjectName("Image1");
  Image1->setScaledContents(true);
  lbDesc = new QLabel("Nx9000", Image1);
  lbDesc->setObjectName("lbDesc");
  lbDesc->setTextFormat(Qt::PlainText);
  lbDesc->setAttribute(Qt::WA_TranslucentBackground);
  QFont big = lbDesc->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  lbDesc->setFont(big);
  lbDesc->setStyleSheet("color: blue; background: transparent;");
  btnReconnectTelnet = new QToolButton(Image1);
  btnReconnectTelnet->setObjectName("btnReconnectTelnet");
  btnReconnectTelnet->setAutoRaise(true);
  btnReconnectTelnet->setIcon(ReconnectIcon());
  btnReconnectTelnet->setIconSize(QSize(24, 24));
  btnReconnectTelnet->setToolTip("Reconnect");
  SetAccessible(btnReconnectTelnet, "Reconnect");
  auto* header = new QHBoxLayout(Image1);
  header->setContentsMargins(8, 4, 8, 4);
  header->addWidget(btnReconnectTelnet);
  header->addWidget(lbDesc);
  header->addStretch();
  auto* panelBox = new QVBoxLayout(Panel4);
  panelBox->setContentsMargins(0, 0, 0, 0);
  panelBox->addWidget(Image1);

  webBox = new QScrollArea(this);
  webBox->setObjectName("webBox");
  webBox->setWidgetResizable(true);
  webBox->setWidget(new QWidget);
  SetAccessible(webBox, "Console");
  webBox->installEventFilter(this);
  webBox->viewport()->installEventFilter(this);  // the client lives in the viewport

  sbrStatus = new QStatusBar(this);
  sbrStatus->setObjectName("sbrStatus");
  sbrStatus->setSizeGripEnabled(false);
  statusText_ = new QLabel(sbrStatus);
  statusText_->setTextFormat(Qt::PlainText);
  sbrStatus->addWidget(statusText_, 1);

  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addWidget(Panel4);
  top->addWidget(webBox, 1);
  top->addWidget(sbrStatus);

  RestartTimer = new QTimer(this);
  RestartTimer->setObjectName("RestartTimer");
  RestartTimer->setInterval(500);
  connect(RestartTimer, &QTimer::timeout, this, &TfmNx9000::RestartTimerTimer);
  connect(btnReconnectTelnet, &QToolButton::clicked, this, &TfmNx9000::btnReconnectTelnetClick);
}

TfmNx9000::~TfmNx9000() {
  RestartTimer->stop();
  StopClient();
}

void TfmNx9000::AttachTo(void* parent) {
  auto* w = static_cast<QWidget*>(parent);
  setParent(w);
  setVisible(false);
}

void TfmNx9000::FillParent() {
  QWidget* p = parentWidget();
  if (!p) return;
  if (p->layout()) {
    p->layout()->addWidget(this);
  } else {
    setGeometry(p->rect());
    p->installEventFilter(this);  // follow the container's size
  }
}

void TfmNx9000::SetupView() {
  ORV_TRACE("TfmNx9000::SetupView");
  const int id = module_ ? module_->nModuleID : -1;
  lbDesc->setText(id >= 0 && static_cast<std::size_t>(id) < kModelNameCount && NAME_MOD[id]
                      ? QString::fromLatin1(NAME_MOD[id])
                      : QString());
  const QPixmap banner = BannerPixmap();  // shared by every frame
  if (!banner.isNull()) Image1->setPixmap(banner);
  else Image1->clear();
  SetStatus("Terminated");
}

void TfmNx9000::SetStatus(const char* text) { statusText_->setText(QString::fromLatin1(text)); }
QString TfmNx9000::StatusText() const { return statusText_->text(); }
QString TfmNx9000::Caption() const { return lbDesc->text(); }
bool TfmNx9000::RestartPending() const { return RestartTimer->isActive() && bRestart_; }

void TfmNx9000::StopClient() {
  ++nRun_;  // an end notice still on its way belongs to a stopped run
  if (console_) {
    console_->Stop();
    console_.reset();
  }
}

std::function<void()> TfmNx9000::OnUiThread(uint64_t run, std::function<void(TfmNx9000*)> fn) {
  QPointer<TfmNx9000> self(this);
  return [self, run, fn = std::move(fn)] {
    // The client's watcher runs on its own thread: hand the news to the UI
    // thread, and drop it when this frame is gone or that run was stopped.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;  // shutting down
    QMetaObject::invokeMethod(
        app, [self, run, fn] {
          if (self && self->console_ && self->nRun_ == run) fn(self.data());
        },
        Qt::QueuedConnection);
  };
}

QWidget* TfmNx9000::ConsoleBox() const { return webBox->viewport(); }

void TfmNx9000::StartConsole() {
  ORV_TRACE("TfmNx9000::StartConsole");
  if (console_) StopConsole();
  if (!Factory()) return;  // no console client in this build: stays "Terminated"
  console_ = Factory()();
  if (!console_) return;
  const std::string unavailable = console_->Unavailable();
  if (!unavailable.empty()) {
    console_.reset();
    statusText_->setText(QString::fromStdString(unavailable));
    return;
  }
  const uint64_t run = ++nRun_;
  const std::string address = module_ ? module_->szConnection : std::string();
  auto ready = OnUiThread(run, [](TfmNx9000* f) { f->ConsoleReady(true); });
  auto failed = OnUiThread(run, [](TfmNx9000* f) { f->ConsoleReady(false); });
  auto ended = OnUiThread(run, [](TfmNx9000* f) { f->ConsoleEnded(); });
  const ConsoleStart started = console_->Start(
      webBox->viewport(), address,
      [ready, failed](bool ok) {
        if (ok) ready();
        else failed();
      },
      ended);
  if (started == ConsoleStart::kRunning) ConsoleReady(true);
  else if (started == ConsoleStart::kFailed) ConsoleReady(false);
}

void TfmNx9000::ConsoleReady(bool embedded) {
  if (embedded) {
    console_->Place(webBox->viewport());
    SetStatus("Telnet");
  } else {
    ShowMessage(this, "Make sure the telnet client is enabled", QString(), MsgIcon::None, MB_OK);
  }
}

void TfmNx9000::StopConsole() {
  ORV_TRACE("TfmNx9000::StopConsole");
  RestartTimer->stop();
  bRestart_ = false;
  StopClient();
  SetStatus("Terminated");
}

void TfmNx9000::ConsoleEnded() {
  SetStatus("Terminated");
  bRestart_ = true;
  RestartTimer->start();
}

void TfmNx9000::RestartTimerTimer() {
  RestartTimer->stop();
  if (bRestart_) {
    bRestart_ = false;
    StartConsole();
  }
}

void TfmNx9000::btnReconnectTelnetClick() { StartConsole(); }

void TfmNx9000::webBoxResize() {
  if (console_) console_->Place(webBox->viewport());
}

bool TfmNx9000::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    if (watched == webBox || watched == webBox->viewport()) webBoxResize();
    else if (watched == parentWidget() && !parentWidget()->layout()) setGeometry(parentWidget()->rect());
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace orv::ui
