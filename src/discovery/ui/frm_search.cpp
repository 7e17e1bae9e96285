#include "discovery/ui/frm_search.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <optional>

#include "app/ui_support.h"
#include "common/trace.h"
#include "discovery/ip_check.h"
#include "discovery/udp_transport.h"
#include "host/interfaces.h"
#include "host/settings.h"

namespace orv::ui {

namespace {
TfmSearch* g_current = nullptr;

const char kDefaultMask[] = "255.255.255.0";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

// ---- SearchSpinner --------------------------------------------------------

SearchSpinner::SearchSpinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  timer_->setInterval(100);
  connect(timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
  setFixedSize(sizeHint());
}

void SearchSpinner::start() { timer_->start(); }
void SearchSpinner::stop() {
  timer_->stop();
  update();
}
bool SearchSpinner::isActive() const { return timer_->isActive(); }

void SearchSpinner::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(width() / 2.0, height() / 2.0);
  const double r = std::min(width(), height()) / 2.0 - 2;
  for (int i = 0; i < 12; ++i) {
    QColor c = palette().color(QPalette::WindowText);
    // Stopped: all spokes faint. Turning: a bright head with a fading tail.
    const int age = (step_ - i + 12) % 12;
    c.setAlphaF(timer_->isActive() ? 1.0 - age / 13.0 : 0.25);
    p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.save();
    p.rotate(i * 30.0);
    p.drawLine(QPointF(0, -r * 0.45), QPointF(0, -r));
    p.restore();
  }
}

// ---- TfmSearch ------------------------------------------------------------

TfmSearch* TfmSearch::Current() { return g_current; }

TfmSearch::TfmSearch(QWidget* owner, std::vector<IONODE>& found, SearchTransport* transport)
    : QDialog(owner), found_(found) {
  ORV_TRACE("TfmSearch::TfmSearch");
  BuildForm();

  if (!transport) {
    ownTransport_ = std::make_unique<UdpSearchTransport>();
    transport = ownTransport_.get();
  }
  transport_ = transport;
  // The engine clears SearchStopped and starts with an empty request.
  engine_ = std::make_unique<SearchEngine>(*transport, clock_, *this);
  engine_->SetRemainingCycles(3);
  g_current = this;
  refresh_ = [] { RefreshHostInterfaces(); };

  // The engine runs on a worker thread: everything it reports is handed to
  // this dialog's thread, in order, so the window keeps painting and Stop is
  // heard while answers arrive.
  SearchCallbacks cb;
  cb.closeDialog = [this] { Post([this] { pendingResult_ = QDialog::Rejected; }); };
  cb.progressSetup = [this](int min, int max, int pos, int step) {
    Post([this, min, max, pos, step] {
      ProgressBar1->setRange(min, max);
      ProgressBar1->setValue(pos);
      nProgressStep_ = step;
    });
  };
  cb.progressStep = [this] {
    Post([this] {
      ProgressBar1->setValue(std::min(ProgressBar1->maximum(), ProgressBar1->value() + nProgressStep_));
    });
  };
  cb.stopEnabled = [this](bool on) { Post([this, on] { btnStop->setEnabled(on); }); };
  engine_->SetCallbacks(std::move(cb));

  nRangeUse_ = ReadRegInteger(szRegKeySystem, "IPOfRange_use", 0);
  nRangeChoice_ = ReadRegInteger(szRegKeySystem, "IPOfRange_choice", 0);
  etStartIP->setText(Q(ReadRegString(szRegKeySystem, "IPOfRange_startIP", "192.168.1.1")));
  etEndIP->setText(Q(ReadRegString(szRegKeySystem, "IPOfRange_endIP", "192.168.1.254")));
  etNetmask->setText(Q(ReadRegString(szRegKeySystem, "IPOfRange_netmask", kDefaultMask)));
  nSearchAll_ = ReadRegInteger(szRegKeySystem, "Search All", 1);
  nK7710_ = ReadRegInteger(szRegKeySystem, "K7710", 1);
  n4410_ = ReadRegInteger(szRegKeySystem, "Tramix 4410", 1);
  engine_->SetRemainingCycles(StoredSearchRounds());
}

TfmSearch::~TfmSearch() {
  SearchStopped = true;
  if (worker_.joinable()) {
    transport_->Interrupt();
    worker_.join();
  }
  if (g_current == this) g_current = nullptr;
}

void TfmSearch::BuildForm() {
  setWindowTitle("Auto Search for RTU");
  // No title-bar buttons: the dialog is left through Exit or by the search ending.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  auto makeButton = [this](const char* name, const char* text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    // No default button: Enter in a field must not start or end anything.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
  };
  auto makeEdit = [this](const char* name, const char* text) {
    auto* e = new QLineEdit(text, this);
    e->setObjectName(name);
    e->setMaxLength(16);
    e->setEnabled(false);
    e->installEventFilter(this);
    return e;
  };
  auto plainLabel = [this](const char* text, const char* name = nullptr) {
    auto* l = new QLabel(text, this);
    l->setTextFormat(Qt::PlainText);
    if (name) l->setObjectName(name);
    return l;
  };

  btnStartSearch = makeButton("btnStartSearch", "Start Search");
  btnCancelSearch = makeButton("btnCancelSearch", "&Exit");
  btnStop = makeButton("btnStop", "Stop");
  btnStop->setEnabled(false);

  ckSearchRange = new QCheckBox("Search a range of addresses", this);
  ckSearchRange->setObjectName("ckSearchRange");
  gbSearchRange = new QGroupBox(this);
  gbSearchRange->setObjectName("gbSearchRange");
  etStartIP = makeEdit("etStartIP", "192.168.127.1");
  etEndIP = makeEdit("etEndIP", "192.168.127.254");
  etNetmask = makeEdit("etNetmask", kDefaultMask);
  rbEndIP = new QRadioButton(gbSearchRange);
  rbEndIP->setObjectName("rbEndIP");
  rbEndIP->setEnabled(false);
  rbNetmask = new QRadioButton(gbSearchRange);
  rbNetmask->setObjectName("rbNetmask");
  rbNetmask->setEnabled(false);
  auto* rangeGrid = new QGridLayout(gbSearchRange);
  rangeGrid->addWidget(plainLabel("Start IP Address: "), 0, 1);
  rangeGrid->addWidget(etStartIP, 0, 2);
  rangeGrid->addWidget(rbEndIP, 1, 0);
  rangeGrid->addWidget(plainLabel("End IP Address: "), 1, 1);
  rangeGrid->addWidget(etEndIP, 1, 2);
  rangeGrid->addWidget(rbNetmask, 2, 0);
  rangeGrid->addWidget(plainLabel("Network Mask:  "), 2, 1);
  rangeGrid->addWidget(etNetmask, 2, 2);

  ckAll = new QCheckBox("Search all support models", this);
  ckAll->setObjectName("ckAll");
  ckAll->setChecked(true);
  gbDevice = new QGroupBox(this);
  gbDevice->setObjectName("gbDevice");
  ckK7710 = new QCheckBox("K7710-C", gbDevice);
  ckK7710->setObjectName("ckK7710");
  ck4410 = new QCheckBox("Tramix 4410-C", gbDevice);
  ck4410->setObjectName("ck4410");
  for (QCheckBox* c : {ckK7710, ck4410}) {
    c->setChecked(true);
    c->setEnabled(false);
  }
  auto* devBox = new QHBoxLayout(gbDevice);
  devBox->addWidget(ckK7710);
  devBox->addWidget(ck4410);

  lbFound = plainLabel("0", "lbFound");
  QFont bold = lbFound->font();
  bold.setBold(true);
  lbFound->setFont(bold);
  lbFound->setStyleSheet("color: red;");
  Label2 = plainLabel("RTU(s) were found !", "Label2");

  lvEnum = new QTableWidget(0, 5, this);
  lvEnum->setObjectName("lvEnum");
  lvEnum->setHorizontalHeaderLabels({"#", "Server Name", "Model", "IP Address", "MAC Address"});
  lvEnum->verticalHeader()->hide();
  lvEnum->setShowGrid(true);
  lvEnum->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvEnum->setSelectionMode(QAbstractItemView::SingleSelection);
  lvEnum->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvEnum->setColumnWidth(0, 40);
  lvEnum->setColumnWidth(1, 120);
  // Address columns at least wide enough for their longest text in this font.
  const QFontMetrics fm(lvEnum->font());
  lvEnum->setColumnWidth(3, std::max(120, fm.horizontalAdvance("255.255.255.255") + 16));
  lvEnum->setColumnWidth(4, std::max(120, fm.horizontalAdvance("DD-DD-DD-DD-DD-DD") + 16));
  lvEnum->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  lvEnum->horizontalHeaderItem(2)->setTextAlignment(Qt::AlignCenter);
  lvEnum->setMinimumWidth(lvEnum->columnWidth(0) + lvEnum->columnWidth(1) + 160 +
                          lvEnum->columnWidth(3) + lvEnum->columnWidth(4) + 4);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  nProgressStep_ = 1;

  Animate1 = new SearchSpinner(this);
  Animate1->setObjectName("Animate1");

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  statusPanel0 = plainLabel("");
  statusPanel0->setFixedWidth(300);
  statusPanel1 = plainLabel("");
  statusPanel1->setFixedWidth(50);
  StatusBar1->addWidget(statusPanel0);
  StatusBar1->addWidget(statusPanel1);

  auto* top = new QVBoxLayout(this);
  auto* choices = new QGridLayout;
  auto* rangeCol = new QVBoxLayout;
  rangeCol->addWidget(ckSearchRange);
  rangeCol->addWidget(gbSearchRange);
  auto* modelCol = new QVBoxLayout;
  modelCol->addWidget(ckAll);
  modelCol->addWidget(gbDevice);
  modelCol->addStretch();
  auto* buttonCol = new QVBoxLayout;
  buttonCol->addWidget(btnStartSearch);
  buttonCol->addWidget(btnCancelSearch);
  buttonCol->addStretch();
  buttonCol->addWidget(Animate1, 0, Qt::AlignHCenter);
  choices->addLayout(rangeCol, 0, 0);
  choices->addLayout(modelCol, 0, 1);
  choices->addLayout(buttonCol, 0, 2);
  top->addLayout(choices);
  auto* foundRow = new QHBoxLayout;
  foundRow->addWidget(lbFound);
  foundRow->addWidget(Label2);
  foundRow->addStretch();
  top->addLayout(foundRow);
  top->addWidget(lvEnum, 1);
  auto* progRow = new QHBoxLayout;
  progRow->addWidget(ProgressBar1, 1);
  progRow->addWidget(btnStop);
  top->addLayout(progRow);
  top->addWidget(StatusBar1);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnStartSearch, &QPushButton::clicked, this, &TfmSearch::btnStartSearchClick);
  connect(btnCancelSearch, &QPushButton::clicked, this, &TfmSearch::btnCancelSearchClick);
  connect(btnStop, &QPushButton::clicked, this, &TfmSearch::btnStopClick);
  // State changes made from code run the same handlers as clicks.
  connect(ckSearchRange, &QCheckBox::toggled, this, &TfmSearch::ckSearchRangeClick);
  connect(ckAll, &QCheckBox::toggled, this, &TfmSearch::ckAllClick);
  connect(rbEndIP, &QRadioButton::toggled, this, [this](bool on) {
    if (on) rbEndIPClick();
  });
  connect(rbNetmask, &QRadioButton::toggled, this, [this](bool on) {
    if (on) rbNetmaskClick();
  });
}

void TfmSearch::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!activated_) {
    activated_ = true;
    FormActivate();
  }
}

void TfmSearch::FormActivate() {
  ORV_TRACE("TfmSearch::FormActivate");
  // The animation is always offered here; it turns only while searching.
  Animate1->setVisible(true);
  ckSearchRange->setChecked(nRangeUse_ != 0);
  ckSearchRangeClick();
  if (nRangeChoice_ != 0) rbNetmask->setChecked(true);
  if (nSearchAll_ != 0) {
    ckAll->setChecked(true);
    ckAllClick();
  } else {
    ckAll->setChecked(false);
    ckAllClick();
    ckK7710->setChecked(nK7710_ != 0);
    ck4410->setChecked(n4410_ != 0);
  }
}

void TfmSearch::ckSearchRangeClick() {
  if (!ckSearchRange->isChecked()) {
    for (QWidget* w : std::initializer_list<QWidget*>{etStartIP, etEndIP, etNetmask, rbEndIP, rbNetmask})
      w->setEnabled(false);
    return;
  }
  rbEndIP->setEnabled(true);
  rbNetmask->setEnabled(true);
  // The mode saved when the dialog was made decides, not the radio buttons.
  if (nRangeChoice_ == 1) {
    etStartIP->setEnabled(false);
    etEndIP->setEnabled(false);
    rbNetmask->setChecked(true);
    etNetmask->setEnabled(true);
  } else {
    rbEndIP->setChecked(true);
    etStartIP->setEnabled(true);
    etEndIP->setEnabled(true);
    etNetmask->setEnabled(false);
  }
}

void TfmSearch::rbEndIPClick() {
  rbEndIP->setChecked(true);
  etStartIP->setEnabled(true);
  etEndIP->setEnabled(true);
  etNetmask->setEnabled(false);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", 0);
}

void TfmSearch::rbNetmaskClick() {
  etStartIP->setEnabled(false);
  etEndIP->setEnabled(false);
  rbNetmask->setChecked(true);
  etNetmask->setEnabled(true);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", 1);
}

void TfmSearch::ckAllClick() {
  const bool all = ckAll->isChecked();
  for (QCheckBox* c : gbDevice->findChildren<QCheckBox*>()) {
    c->setChecked(all);
    c->setEnabled(!all);
  }
}

QString TfmSearch::TrimField(QLineEdit* field) {
  const QString trimmed = Q(TrimIPText(S(field->text())));
  if (trimmed != field->text()) field->setText(trimmed);
  return trimmed;
}

void TfmSearch::FieldMessage(const char* text, QLineEdit* focusBack) {
  checking_ = true;
  ShowMessage(this, QString::fromLatin1(text), QString(), MsgIcon::None, MB_OK);
  if (focusBack) {
    // Put the focus back once the focus change that triggered the check has
    // finished; until then no other field check may run.
    QTimer::singleShot(0, this, [this, f = QPointer<QLineEdit>(focusBack)] {
      if (f && f->isEnabled()) f->setFocus(Qt::OtherFocusReason);
      QTimer::singleShot(0, this, [this] { checking_ = false; });
    });
  } else {
    checking_ = false;
  }
}

void TfmSearch::etStartIPExit() {
  const std::string text = S(TrimField(etStartIP));
  const int code = CheckIPText(text, false);
  if (code == IPTEXT_OK) {
    nStart_ = IPTextToNumber(text);
  } else if (IsIllegalIPTextCode(code)) {
    FieldMessage("Illegal Start IP address", etStartIP);
  } else {
    FieldMessage("Invalid Start IP address", etStartIP);
  }
}

void TfmSearch::etEndIPExit() {
  const std::string text = S(TrimField(etEndIP));
  const int code = CheckIPText(text, false);
  if (code == IPTEXT_OK) {
    nEnd_ = IPTextToNumber(text);
    if (nEnd_ < nStart_) FieldMessage("Start IP address must be less than end IP address", etEndIP);
  } else if (IsIllegalIPTextCode(code)) {
    FieldMessage("Illegal End IP address", etEndIP);
  } else {
    FieldMessage("Invalid End IP address", etEndIP);
  }
}

void TfmSearch::etNetmaskExit() {
  const std::string text = S(TrimField(etNetmask));
  const int code = CheckIPText(text, true);
  if (code == IPTEXT_OK) {
    nMask_ = IPTextToNumber(text);
    return;
  }
  FieldMessage(IsIllegalIPTextCode(code)
                   ? "Illegal network mask!\n\nSet to default netmask 255.255.255.0\n"
                   : "Invalid network mask!\n\nSet to default netmask 255.255.255.0\n",
               nullptr);
  etNetmask->setText(kDefaultMask);
}

bool TfmSearch::etNetmaskKeyDown(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  const std::string text = S(TrimField(etNetmask));
  const int code = CheckIPText(text, true);
  if (code == IPTEXT_OK) {
    nMask_ = IPTextToNumber(text);
  } else {
    FieldMessage(IsIllegalIPTextCode(code) ? "Illegal network mask!" : "Invalid network mask!",
                 etNetmask);
  }
  return true;
}

bool TfmSearch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    auto* fe = static_cast<QFocusEvent*>(event);
    // Leaving a field for another control of this dialog; the dialog losing
    // the activation (a message box, another window) is not leaving.
    const Qt::FocusReason r = fe->reason();
    const bool leaving = r != Qt::ActiveWindowFocusReason && r != Qt::PopupFocusReason &&
                         r != Qt::NoFocusReason;
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (leaving && field && field->isEnabled() && !checking_ && !searching_ && isVisible()) {
      if (field == etStartIP) etStartIPExit();
      else if (field == etEndIP) etEndIPExit();
      else if (field == etNetmask) etNetmaskExit();
    }
  } else if (event->type() == QEvent::KeyPress && watched == etNetmask) {
    auto* ke = static_cast<QKeyEvent*>(event);
    if (etNetmaskKeyDown(ke->key())) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TfmSearch::btnStartSearchClick() {
  ORV_TRACE("TfmSearch::btnStartSearchClick");
  // A second press while the search runs could not get the search port;
  // it changes nothing.
  if (searching_) return;
  try {
    StartSearch();
  } catch (const std::exception& e) {
    // A settings error: every control is locked by now, so report it and
    // close with what was found rather than leave a dialog nobody can close.
    searching_ = false;
    Animate1->stop();
    ShowException(this, e);
    done(pendingResult_);
  }
}

void TfmSearch::StartSearch() {
  // The dialog closes as soon as this handler has finished; the timer may
  // turn the result into Cancel meanwhile.
  pendingResult_ = QDialog::Accepted;
  Animate1->start();
  statusPanel0->setText("Search for RTU Servers");
  engine_->SetupProgress();
  ProgressBar1->repaint();

  for (QWidget* w : std::initializer_list<QWidget*>{btnCancelSearch, ckAll, gbDevice, ckK7710,
                                                      ck4410, ckSearchRange, gbSearchRange,
                                                      etStartIP, etEndIP, etNetmask, rbEndIP,
                                                      rbNetmask})
    w->setEnabled(false);

  nStart_ = IPTextToNumber(S(etStartIP->text()));
  nEnd_ = IPTextToNumber(S(etEndIP->text()));
  nMask_ = IPTextToNumber(S(etNetmask->text()));

  WriteRegInteger(szRegKeySystem, "IPOfRange_use", ckSearchRange->isChecked() ? 1 : 0);
  WriteRegInteger(szRegKeySystem, "IPOfRange_choice", rbNetmask->isChecked() ? 1 : 0);
  WriteRegString(szRegKeySystem, "IPOfRange_startIP", S(etStartIP->text()));
  WriteRegString(szRegKeySystem, "IPOfRange_endIP", S(etEndIP->text()));
  WriteRegString(szRegKeySystem, "IPOfRange_netmask", S(etNetmask->text()));
  WriteRegInteger(szRegKeySystem, "Search All", ckAll->isChecked() ? 1 : 0);
  WriteRegInteger(szRegKeySystem, "K7710", ckK7710->isChecked() ? 1 : 0);
  WriteRegInteger(szRegKeySystem, "Tramix 4410", ck4410->isChecked() ? 1 : 0);

  if (refresh_) refresh_();
  if (!IPNodeList.empty()) {
    SearchFilter filter;
    filter.bRangeUse = ckSearchRange->isChecked();
    filter.nRangeChoice = rbNetmask->isChecked() ? 1 : 0;
    filter.nStartIP = nStart_;
    filter.nEndIP = nEnd_;
    filter.nNetmask = nMask_;
    filter.bK7710 = ckK7710->isChecked();
    filter.b4410 = ck4410->isChecked();
    engine_->SetFilter(filter);
    engine_->SetNicIP(szNicIP);

    hourglass_.emplace();
    searching_ = true;
    worker_ = std::thread([this] {
      engine_->do_search();  // reports nothing and raises nothing
      Post([this] { SearchFinished(); });
    });
    return;
  }
  Animate1->stop();
  done(pendingResult_);
}

void TfmSearch::SearchFinished() {
  if (worker_.joinable()) worker_.join();
  searching_ = false;
  hourglass_.reset();
  Animate1->stop();
  done(pendingResult_);
}

void TfmSearch::Post(std::function<void()> f) {
  QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void TfmSearch::btnStopClick() {
  ORV_TRACE("TfmSearch::btnStopClick");
  btnStop->setEnabled(false);
  engine_->btnStopClick();
  SearchStopped = true;
  transport_->Interrupt();
}

void TfmSearch::btnCancelSearchClick() { done(QDialog::Rejected); }

void TfmSearch::reject() {
  // Escape answers Exit, and only while Exit can be pressed.
  if (btnCancelSearch->isEnabled()) btnCancelSearchClick();
}

void TfmSearch::closeEvent(QCloseEvent* event) {
  if (searching_) {
    // The search ends at once; its end then closes the dialog.
    SearchStopped = true;
    transport_->Interrupt();
    event->ignore();
    return;
  }
  SearchStopped = true;
  QDialog::closeEvent(event);
}

void TfmSearch::done(int result) {
  SearchStopped = true;
  QDialog::done(result);
}

void TfmSearch::AddNewModule(IONODE node) {
  // Called on the search thread.
  Post([this, n = std::move(node)]() mutable { ListNewModule(std::move(n)); });
}

void TfmSearch::ListNewModule(IONODE node) {
  found_.push_back(std::move(node));
  const IONODE& rec = found_.back();
  const int row = lvEnum->rowCount();
  lvEnum->insertRow(row);
  if (rec.nKind == 1) {
    const SearchResultRow r = MakeResultRow(rec, static_cast<size_t>(row) + 1);
    auto* first = new QTableWidgetItem(Q(r.caption));
    // The model description has no column; it rides along with the row.
    if (r.subItems.size() > 4) first->setData(Qt::UserRole, Q(r.subItems[4]));
    lvEnum->setItem(row, 0, first);
    for (int c = 0; c < 4 && c < static_cast<int>(r.subItems.size()); ++c) {
      auto* item = new QTableWidgetItem(Q(r.subItems[c]));
      if (c == 1) item->setTextAlignment(Qt::AlignCenter);
      lvEnum->setItem(row, c + 1, item);
    }
  }
  lbFound->setText(QString::number(lvEnum->rowCount()));
}

}  // namespace orv::ui
