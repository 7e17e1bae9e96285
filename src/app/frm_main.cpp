#include "app/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <optional>

#include "app/frm_q6000.h"
#include "app/frm_wait.h"
#include "app/ui_support.h"
#include "comm/transaction.h"
#include "common/trace.h"
#include "console/ui/frm_nx9000.h"
#include "discovery/search_engine.h"
#include "discovery/ui/frm_search.h"
#include "host/interfaces.h"
#include "host/routes.h"
#include "host/settings.h"

namespace orv::ui {

TfmMain* fmMain = nullptr;

HostOps& MainHostOps() {
  static HostOps ops{
      [] { return RemoveStaleDeviceRoutes(); },
      [] { return RefreshHostInterfaces(); },
      [](const std::string& l, const std::string& d, const std::string& m, std::string* error) {
        return AddDeviceRoute(l, d, m, error);  // no wait: this is the window's thread
      },
      [] { ReleaseHostInterfaces(); },
      [] { return CanChangeRoutes(); },
  };
  return ops;
}

QString ElapsedText(qint64 seconds) {
  if (seconds < 0) seconds = 0;
  const qint64 days = seconds / 86400;
  const qint64 rest = seconds % 86400;
  return QString::asprintf("%lld:%02lld:%02lld:%02lld", static_cast<long long>(days),
                           static_cast<long long>(rest / 3600),
                           static_cast<long long>(rest / 60 % 60),
                           static_cast<long long>(rest % 60));
}

namespace {
QString Text(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }

TIOObject* ObjectOf(const QTreeWidgetItem* item) {
  return item ? static_cast<TIOObject*>(item->data(0, Qt::UserRole).value<void*>()) : nullptr;
}

// The product's progress bar interface over the window's bar.
class BarAdapter : public TProgressBar {
 public:
  explicit BarAdapter(QProgressBar* bar) : bar_(bar) {}
  int32_t Position() const override { return bar_->value(); }
  void SetPosition(int32_t p) override { bar_->setValue(p); }
  int32_t Max() const override { return bar_->maximum(); }
  void SetMax(int32_t m) override { bar_->setMaximum(m); }

 private:
  QProgressBar* bar_;
};
}  // namespace

TfmMain::TfmMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName("fmMain");
  setWindowTitle("VORN Orvistar");
  RunSearchDialog = [this](std::vector<IONODE>& found) {
    TfmSearch dialog(this, found);
    return dialog.exec();
  };
  BuildForm();
  BuildCommands();
  // Restarting devices show their countdown over the window.
  SetRestartWait(&restartWait_);
  // A module's UpdateMenu enables the restart and reset entries.
  SetDeviceMenuHook([this] {
    muRemoteERestartModule->setEnabled(true);
    muRemoteEResetModule->setEnabled(true);
  });
  FormCreate();
}

TfmMain::~TfmMain() {
  // The views live in nPanelParent: the product must go before the widgets.
  ClearTreeQuietly();
  if (mScoutix) {
    mScoutix->Quit();
    mScoutix.reset();
  }
  if (fmMain == this) fmMain = nullptr;
  if (GetRestartWait() == &restartWait_) SetRestartWait(nullptr);
  SetDeviceMenuHook(nullptr);
}

void TfmMain::BuildForm() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  CoolBar1 = new QWidget(central);
  CoolBar1->setObjectName("CoolBar1");
  auto* cool = new QHBoxLayout(CoolBar1);
  cool->setContentsMargins(2, 2, 2, 2);
  ToolBar1 = new QToolBar(CoolBar1);
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
  ToolBar2 = new QToolBar(CoolBar1);
  ToolBar2->setObjectName("ToolBar2");
  cool->addWidget(ToolBar1);
  cool->addWidget(ToolBar2);
  cool->addStretch();
  layout->addWidget(CoolBar1);

  Splitter1 = new QSplitter(Qt::Horizontal, central);
  Splitter1->setObjectName("Splitter1");
  Panel1 = new QWidget(Splitter1);
  Panel1->setObjectName("Panel1");
  auto* p1 = new QVBoxLayout(Panel1);
  p1->setContentsMargins(0, 0, 0, 0);
  tvDAC = new QTreeWidget(Panel1);
  tvDAC->setObjectName("tvDAC");
  tvDAC->setAccessibleName("Inventory tree");
  tvDAC->setHeaderHidden(true);
  tvDAC->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvDAC->setSelectionMode(QAbstractItemView::SingleSelection);
  tvDAC->setCursor(Qt::PointingHandCursor);
  tvDAC->setIconSize(QSize(16, 16));
  // The selection stays visible when the tree loses focus.
  QPalette pal = tvDAC->palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
               pal.color(QPalette::Active, QPalette::HighlightedText));
  tvDAC->setPalette(pal);
  tvDAC->installEventFilter(this);
  tvDAC->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tvDAC, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    PopupTreeMenu(tvDAC->itemAt(pos), tvDAC->viewport()->mapToGlobal(pos));
  });
  connect(tvDAC, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
            if (rebuilding_) return;
            tvDACChanging(previous);
            tvDACChange(current);
          });
  Panel1->setMinimumWidth(240);
  p1->addWidget(tvDAC);
  nPanelParent = new QWidget(Splitter1);
  nPanelParent->setObjectName("nPanelParent");
  auto* pp = new QVBoxLayout(nPanelParent);
  pp->setContentsMargins(0, 0, 0, 0);
  pp->setSpacing(0);
  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(nPanelParent);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({260, 900});
  layout->addWidget(Splitter1, 1);

  Panel3 = new QWidget(central);
  Panel3->setObjectName("Panel3");
  auto* p3 = new QHBoxLayout(Panel3);
  p3->setContentsMargins(4, 2, 4, 2);
  lbStatus = new QLabel("Ready", Panel3);
  lbStatus->setObjectName("lbStatus");
  lbStatus->setTextFormat(Qt::PlainText);
  QFont bold = lbStatus->font();
  bold.setBold(true);
  lbStatus->setFont(bold);
  lbRights = new QLabel(Panel3);
  lbRights->setObjectName("lbRights");
  lbRights->setTextFormat(Qt::PlainText);
  lbRights->setStyleSheet("color: #a00000;");
  lbRights->hide();
  ProgressBar1 = new QProgressBar(Panel3);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setMaximumWidth(200);
  ProgressBar1->hide();
  PanelElapse = new QLabel(Panel3);
  PanelElapse->setObjectName("PanelElapse");
  PanelElapse->setFont(bold);
  PanelElapse->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  PanelElapse->setMinimumWidth(90);
  PanelNow = new QLabel(Panel3);
  PanelNow->setObjectName("PanelNow");
  PanelNow->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  PanelNow->setMinimumWidth(90);
  p3->addWidget(lbStatus);
  p3->addWidget(lbRights, 1);
  p3->addWidget(ProgressBar1);
  p3->addWidget(PanelElapse);
  p3->addWidget(PanelNow);
  layout->addWidget(Panel3);
  setCentralWidget(central);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TfmMain::Timer1Timer);
  TimerNow = new QTimer(this);
  TimerNow->setObjectName("TimerNow");
  TimerNow->setInterval(950);
  connect(TimerNow, &QTimer::timeout, this, &TfmMain::TimerNowTimer);

  resize(1100, 700);
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

void TfmMain::FormCreate() {
  ORV_TRACE("TfmMain::FormCreate");
  bReady = false;
  nSortMode = 1;
  HostOps& host = MainHostOps();
  try {
    nSocketTimeout = ReadRegInteger(szRegKeySystem, "Socket Timeout", 5000);
    // A missing or unreadable banner leaves the picture empty; the window
    // goes on so that the host interfaces are still enumerated.
    InitAppPaths();
    if (host.RemoveStaleRoutes) host.RemoveStaleRoutes();
    if (host.RefreshInterfaces) host.RefreshInterfaces();
  } catch (const std::exception& e) {
    ShowException(this, e);
  }
  if (host.CanChangeRoutes && !host.CanChangeRoutes()) {
    lbRights->setText(Text(RouteRightsHint()));
    lbRights->show();
  }
}

void TfmMain::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // Not on activation: a window manager that prevents focus stealing, or
  // none at all, may never activate the window.
  FormShow();
}

void TfmMain::FormShow() {
  if (!bFirstShow) return;
  bFirstShow = false;
  Timer1->start();
}

TIOView* TfmMain::MakeConsoleView(TModNx9000& module) { return new TfmNx9000(&module); }

void TfmMain::Timer1Timer() {
  ORV_TRACE("TfmMain::Timer1Timer");
  Timer1->stop();
  if (mScoutix) return;  // runs once
  mScoutix = std::make_unique<TScoutix>();
  mScoutix->MakeConsoleView = [this](TModNx9000& m) { return MakeConsoleView(m); };
  mScoutix->OnStatusText = [this](const std::string& s) { lbStatus->setText(Text(s)); };
  mScoutix->OnRepaint = [this](void*) { Panel3->repaint(); };
  fmQ6000_ = new TfmQ6000(nullptr, mScoutix.get());
  mScoutix->Init(fmQ6000_, nPanelParent, nullptr);
  // Whatever the search does, the clock starts and the window becomes idle.
  struct Finally {
    TfmMain* w;
    ~Finally() {
      w->dtStart = QDateTime::currentDateTime();
      w->TimerNow->start();
      w->bReady = true;
    }
  } finally{this};
  ScanSystem();
}

void TfmMain::ClearTreeQuietly() {
  rebuilding_ = true;
  tvDAC->clear();
  nodes_.clear();
  tree_.Clear();
  rebuilding_ = false;
}

void TfmMain::ScanSystem() {
  ORV_TRACE("TfmMain::ScanSystem");
  if (!mScoutix) return;
  EnableMainCommands(false);
  bReady = false;
  std::optional<HourglassGuard> hourglass;
  struct Finally {
    TfmMain* w;
    std::optional<HourglassGuard>& h;
    ~Finally() {
      h.reset();
      w->showMaximized();
      w->EnableMainCommands(true);
      w->muModRemoteEPopup();  // the batch commands follow the kept selection
      w->bReady = true;
    }
  } finally{this, hourglass};

  std::vector<IONODE> found;
  const int result = RunSearchDialog ? RunSearchDialog(found) : QDialog::Rejected;
  // The hourglass covers the import; during the dialog the user works in it.
  hourglass.emplace();
  if (result == QDialog::Accepted || SearchStopped.load()) {
    // The tree refers to the modules about to be destroyed.
    ClearTreeQuietly();
    DeviceIoHalted = true;
    try {
      mScoutix->ClearIOObjList();
    } catch (...) {
      DeviceIoHalted = false;
      throw;
    }
    DeviceIoHalted = false;
  }
  mScoutix->szHostIP = szNicIP;
  lbStatus->setText("Adding I/O servers...");
  ProgressBar1->setRange(0, static_cast<int>(found.size()));
  ProgressBar1->setValue(1);
  ProgressBar1->show();
  BarAdapter bar(ProgressBar1);
  mScoutix->AddScanIO(nPanelParent, &bar, found);
  SortAndShow(nSortMode);
  lbStatus->setText("Ready");
  ProgressBar1->hide();
}

void TfmMain::SortAndShow(int32_t mode) {
  ORV_TRACE("TfmMain::SortAndShow");
  nSortMode = mode;
  muByConnection->setChecked((mode & 0x01) != 0);
  muByModule->setChecked((mode & 0x04) != 0);
  btnSortCon->setChecked((mode & 0x01) != 0);
  btnSortServer->setChecked((mode & 0x04) != 0);

  // Leave the selected view before its node goes away.
  if (QTreeWidgetItem* cur = tvDAC->currentItem()) tvDACChanging(cur);
  ClearTreeQuietly();
  TIOTreeNode* root = tree_.AddChild(nullptr, "Host:" + szNicIP);
  if (mScoutix) mScoutix->ShowIOTree(mode, &tree_, root);
  tree_.SortAll([](const std::string& a, const std::string& b) {
    return QString::localeAwareCompare(Text(a), Text(b)) < 0;
  });
  MirrorTree();
  if (!nodes_.empty()) tvDAC->setCurrentItem(nodes_[0]);
  tvDAC->expandAll();
}

void TfmMain::MirrorTree() {
  rebuilding_ = true;
  std::function<void(const TIOTreeNode&, QTreeWidgetItem*)> add =
      [&](const TIOTreeNode& n, QTreeWidgetItem* parent) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvDAC);
        item->setText(0, Text(n.szText));
        item->setData(0, Qt::UserRole, QVariant::fromValue<void*>(n.pData));
        if (n.nImageIndex >= 0 && n.nImageIndex < static_cast<int>(ImageList1.size()))
          item->setIcon(0, ImageList1[static_cast<std::size_t>(n.nImageIndex)]);
        nodes_.push_back(item);
        for (const auto& c : n.children) add(*c, item);
      };
  for (const auto& r : tree_.Roots()) add(*r, nullptr);
  rebuilding_ = false;
}

void TfmMain::SelectTreeNodeOf(TIOObject* object) {
  for (QTreeWidgetItem* item : nodes_) {
    if (ObjectOf(item) == object) {
      tvDAC->setCurrentItem(item);
      item->setExpanded(true);
      return;
    }
  }
}

void TfmMain::tvDACChanging(QTreeWidgetItem* node) {
  if (TIOObject* o = ObjectOf(node)) o->Hide();
}

void TfmMain::tvDACChange(QTreeWidgetItem* node) {
  ORV_TRACE("TfmMain::tvDACChange");
  if (!node) return;
  if (mScoutix) mScoutix->HideAll();
  if (TIOObject* o = ObjectOf(node)) {
    if (o->nIOType == IOTYPE_MODULE) {
      auto* m = static_cast<TIOMod*>(o);
      std::string error;
      if (MainHostOps().AddRoute && !MainHostOps().AddRoute(szNicIP, m->szConnection, m->szMacAddress, &error))
        lbStatus->setText(Text("The device cannot be reached: " + error));
    }
    o->Show();
    return;
  }
  // Headings carry no object: move on in the direction the user went.
  auto it = std::find(nodes_.begin(), nodes_.end(), node);
  if (it == nodes_.end()) return;
  const std::ptrdiff_t i = it - nodes_.begin();
  const std::ptrdiff_t j = bKeyUp ? i - 1 : i + 1;
  if (j >= 0 && j < static_cast<std::ptrdiff_t>(nodes_.size()))
    tvDAC->setCurrentItem(nodes_[static_cast<std::size_t>(j)]);
}

void TfmMain::tvDACKeyDown(int key) { bKeyUp = (key == Qt::Key_Up); }

bool TfmMain::eventFilter(QObject* watched, QEvent* e) {
  if (watched == tvDAC && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    // The menu of the current node from the keyboard.
    if (k->key() == Qt::Key_Menu || (k->key() == Qt::Key_F10 && (k->modifiers() & Qt::ShiftModifier))) {
      QTreeWidgetItem* item = tvDAC->currentItem();
      if (item)
        PopupTreeMenu(item, tvDAC->viewport()->mapToGlobal(tvDAC->visualItemRect(item).bottomLeft()));
      return true;
    }
    tvDACKeyDown(k->key());
  }
  return QMainWindow::eventFilter(watched, e);
}

void TfmMain::TimerNowTimer() {
  const QDateTime now = QDateTime::currentDateTime();
  PanelElapse->setText(ElapsedText(dtStart.isValid() ? dtStart.secsTo(now) : 0));
  QString fmt = QLocale::system().timeFormat(QLocale::LongFormat);
  fmt.remove(QLatin1Char('t'));
  PanelNow->setText(QLocale::system().toString(now.time(), fmt.trimmed()));
}

bool TfmMain::FormCloseQuery() {
  if (!bReady) return false;
  if (ShowMessage(this, "Click Yes to exit Orvistar.", "Confirm", MsgIcon::Question, MB_YESNO) !=
      MB_YES)
    return false;
  DeviceIoHalted = true;
  return true;
}

void TfmMain::FormClose() {
  ORV_TRACE("TfmMain::FormClose");
  if (closed_) return;
  closed_ = true;
  HourglassGuard hourglass;
  TimerNow->stop();
  ClearTreeQuietly();
  if (mScoutix) {
    mScoutix->Quit();  // destroys the views and the device routes
    mScoutix.reset();
    fmQ6000_ = nullptr;
  }
  if (nCloseWaitMs > 0) QThread::msleep(static_cast<unsigned long>(nCloseWaitMs));
  BannerImage = QImage();
  if (MainHostOps().ReleaseInterfaces) MainHostOps().ReleaseInterfaces();
}

void TfmMain::closeEvent(QCloseEvent* e) {
  if (closed_) {
    e->accept();
    return;
  }
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  FormClose();
  e->accept();
}

void TfmMain::RaiseFromOtherInstance() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) {
    modal->raise();
    modal->activateWindow();
  }
}

}  // namespace orv::ui
