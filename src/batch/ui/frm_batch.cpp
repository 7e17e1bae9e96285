#include "batch/ui/frm_batch.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QTreeView>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ui_support.h"
#include "batch/config_text.h"
#include "batch/operations_log.h"
#include "common/trace.h"
#include "inventory/name_tables.h"

namespace orv::ui {

namespace {
// A device that could not be reached safely (its address held for another
// device, a refused route) says why in its row.
std::string RowResultText(const BatchResult& r) {
  if (r.code == -1 && !r.note.empty()) return r.text + " (" + r.note + ")";
  return r.text;
}
}  // namespace


bool RescanRequested = false;

BatchRoutes& BatchDialogRoutes() {
  static BatchRoutes routes = BatchRoutes::Host();
  return routes;
}

OperationsLog& BatchDialogLog() {
  static OperationsLog log;
  static const bool once = [] {
    log.onWarning = [](const std::string& s) { qWarning("%s", s.c_str()); };
    return true;
  }();
  (void)once;
  return log;
}

namespace {
QString Text(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }

constexpr int kResultColumn = 7;

QString StopMessage(const QString& name) {
  return "User has stopped the '" + name +
         "' procedure.\n\nPlease wait until the current process has finished.\n";
}
}  // namespace

TBatchListDialog::TBatchListDialog(const Kind& kind, TIOProduct* product, QWidget* parent)
    : QDialog(parent), routes(BatchDialogRoutes()), kind_(kind), product_(product),
      list_(product ? &product->IOObjList : nullptr) {
  ORV_TRACE("TBatchListDialog::TBatchListDialog");
  setObjectName(kind.objectName);
  setWindowTitle(kind.caption);
  // No title-bar buttons: Exit is the only way out.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);
  resize(860, 380);

  auto* layout = new QVBoxLayout(this);
  lvVexil = new QTableWidget(0, 8, this);
  lvVexil->setObjectName("lvVexil");
  lvVexil->setHorizontalHeaderLabels({"#", "Server Name", "Model", "IP Address", "MAC Address",
                                      "Firmware Ver.", "Status", kind.column});
  lvVexil->verticalHeader()->hide();
  lvVexil->setShowGrid(true);
  lvVexil->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvVexil->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvVexil->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvVexil->setWordWrap(false);
  lvVexil->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  lvVexil->horizontalHeader()->setStretchLastSection(true);
  const int widths[8] = {32, 130, 160, 125, 140, 90, 60, 70};
  for (int c = 0; c < 8; ++c) lvVexil->setColumnWidth(c, widths[c]);
  lvVexil->verticalHeader()->setDefaultSectionSize(lvVexil->fontMetrics().height() + 6);
  SetAccessible(lvVexil, kind.caption + " devices");
  layout->addWidget(lvVexil, 1);

  PB_Speed = new QProgressBar(this);
  PB_Speed->setObjectName("PB_Speed");
  PB_Speed->setRange(0, 100);
  PB_Speed->setValue(0);
  SetAccessible(PB_Speed, "Progress");
  layout->addWidget(PB_Speed);

  auto* buttons = new QHBoxLayout();
  btnSaveResults = new QPushButton("Save Results...", this);
  btnSaveResults->setObjectName("btnSaveResults");
  btnSaveResults->setEnabled(false);
  SetAccessible(btnSaveResults, "Save Results...");
  connect(btnSaveResults, &QPushButton::clicked, this, &TBatchListDialog::btnSaveResultsClick);
  BitBtn_Stop = new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop), "Stop", this);
  BitBtn_Stop->setObjectName("BitBtn_Stop");
  BitBtn_Stop->setEnabled(false);
  SetAccessible(BitBtn_Stop, "Stop");
  connect(BitBtn_Stop, &QPushButton::clicked, this, &TBatchListDialog::BitBtn_StopClick);
  btnExit = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), "&Exit", this);
  btnExit->setObjectName("btnExit");
  btnExit->setEnabled(false);
  btnExit->setAutoDefault(false);
  SetAccessible(btnExit, "Exit");
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
  for (QPushButton* b : {btnSaveResults, BitBtn_Stop}) b->setAutoDefault(false);
  buttons->addWidget(btnSaveResults);
  buttons->addStretch();
  buttons->addWidget(BitBtn_Stop);
  buttons->addWidget(btnExit);
  layout->addLayout(buttons);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  Timer1->setInterval(kind.timerMs);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  LoadDeviceList();
}

TBatchListDialog::~TBatchListDialog() {
  // Only reached with a run under way when the program is torn down: let the
  // device under way finish, start no further one.
  if (worker_.joinable()) {
    stop_.Request();
    worker_.join();
  }
}

void TBatchListDialog::LoadDeviceList() {
  ORV_TRACE("TBatchListDialog::LoadDeviceList");
  lvVexil->setRowCount(0);
  devices_.clear();
  if (product_ && list_) {
    PB_Speed->setMaximum(static_cast<int>(product_->SelectedList.size()));
    for (TIOObject* o : *list_) {
      if (!o || o->nIOType != IOTYPE_MODULE) continue;
      auto* m = static_cast<TIOMod*>(o);
      for (const std::string& mac : product_->SelectedList) {
        if (m->szMacAddress != mac) continue;
        BatchDevice d =
            BatchDeviceOf(*m, IsValidModelIndex(m->nModuleID) ? NAME_MOD[m->nModuleID] : std::string());
        const int row = lvVexil->rowCount();
        lvVexil->insertRow(row);
        const QString cells[8] = {QString::number(row + 1), Text(d.serverName), Text(d.model),
                                  Text(d.ip),               Text(d.mac),        Text(d.firmware),
                                  Text(d.lockStatus),       QString()};
        for (int c = 0; c < 8; ++c) {
          auto* item = new QTableWidgetItem(cells[c]);
          if (c == 2 || c == 4) item->setTextAlignment(Qt::AlignCenter);
          lvVexil->setItem(row, c, item);
        }
        devices_.push_back(std::move(d));
        break;
      }
    }
  }
  lvVexil->viewport()->update();
  BitBtn_Stop->setEnabled(lvVexil->rowCount() > 1);
}

void TBatchListDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TBatchListDialog::FormActivate() {
  // Armed once per showing: returning from a message box does not start again.
  if (activated_) return;
  activated_ = true;
  Timer1->start();
}

void TBatchListDialog::Timer1Timer() { Timer1->stop(); }

BatchJob TBatchListDialog::PlainJob() const {
  BatchJob job;
  job.op = kind_.op;
  job.localIP = product_ ? product_->szHostIP : std::string();
  job.pauseAfterMs = kind_.pauseMs;
  return job;
}

void TBatchListDialog::StartRun(BatchJob job) {
  ORV_TRACE("TBatchListDialog::StartRun");
  if (deviceOperation) job.operation = deviceOperation;
  running_ = true;
  BatchHooks hooks;
  hooks.started = [this](std::size_t i, bool last) {
    QMetaObject::invokeMethod(this, [this, i, last] { OnStarted(i, last); }, Qt::QueuedConnection);
  };
  hooks.progress = [this](std::size_t i, int32_t blocks) {
    QMetaObject::invokeMethod(this, [this, i, blocks] { OnProgress(i, blocks); }, Qt::QueuedConnection);
  };
  hooks.finished = [this](std::size_t i, const BatchResult& r) {
    QMetaObject::invokeMethod(this, [this, i, r] { OnFinished(i, r); }, Qt::QueuedConnection);
  };
  worker_ = std::thread([this, job = std::move(job), hooks = std::move(hooks)] {
    BatchSummary s = RunBatch(job, devices_, stop_, hooks, routes, clock, &BatchDialogLog());
    QMetaObject::invokeMethod(
        this,
        [this, s = std::move(s)] {
          worker_.join();  // it has nothing left to do
          running_ = false;
          summary_ = s;
          OnEnded(summary_);
        },
        Qt::QueuedConnection);
  });
}

void TBatchListDialog::OnStarted(std::size_t, bool last) {
  if (last) BitBtn_Stop->setEnabled(false);  // the last device cannot be stopped
}

void TBatchListDialog::OnProgress(std::size_t, int32_t) {}

void TBatchListDialog::OnFinished(std::size_t index, const BatchResult& result) {
  if (QTableWidgetItem* it = lvVexil->item(static_cast<int>(index), kResultColumn))
    it->setText(Text(RowResultText(result)));
  PB_Speed->setValue(std::min(PB_Speed->value() + 1, PB_Speed->maximum()));
}

void TBatchListDialog::OnEnded(const BatchSummary& summary) {
  if (!summary.stopped && !summary.aborted) {
    BitBtn_Stop->setEnabled(false);
    ShowMessage(this, kind_.finishMessage, "Information", MsgIcon::Information, MB_OK);
  }
  EnterFinished();
}

void TBatchListDialog::EnterFinished() {
  BitBtn_Stop->setEnabled(false);
  PB_Speed->setValue(PB_Speed->maximum());
  btnExit->setEnabled(true);
  btnExit->repaint();
  btnSaveResults->setEnabled(summary_.ran > 0);
  finished_ = true;
  emit runFinished();
}

void TBatchListDialog::BitBtn_StopClick() {
  BitBtn_Stop->setEnabled(false);
  // Refused once the last device's turn has begun: that one cannot be stopped.
  if (!stop_.Request()) return;
  ShowMessage(this, StopMessage(kind_.stopName), "Warning", MsgIcon::Warning, MB_OK);
}

void TBatchListDialog::btnExitClick() {
  leaving_ = true;
  done(QDialog::Rejected);
}

void TBatchListDialog::btnSaveResultsClick() {
  FileChoice c;
  c.caption = "Save Results";
  c.filter = "CSV file (*.csv)|*.csv";
  c.defaultSuffix = "csv";
  c.save = true;
  const QString path = ChooseFile(this, c);
  if (path.isEmpty()) return;
  const std::string csv = BatchResultsCsv(kind_.column.toStdString(), devices_, summary_.results);
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(csv.data(), static_cast<qint64>(csv.size())) !=
                                           static_cast<qint64>(csv.size()) || !f.commit()) {
    ShowMessage(this, "The results could not be saved to " + path + ":\n" + f.errorString(), "Error",
                MsgIcon::Error, MB_OK);
  }
}

void TBatchListDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (btnExit->isEnabled()) btnExit->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TBatchListDialog::reject() {
  if (leaving_) QDialog::reject();
  else if (btnExit->isEnabled()) btnExit->click();
}

void TBatchListDialog::closeEvent(QCloseEvent* event) {
  if (leaving_) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  if (btnExit->isEnabled()) btnExit->click();
}

// ---- restart and reset -------------------------------------------------------

TfmRestart::TfmRestart(TIOProduct* product, QWidget* parent)
    : TBatchListDialog({"fmRestart", "Restart Server", "Restart", BatchOp::Restart, 200, 2000,
                        "'Restart' function has finished.", "Restart"},
                       product, parent) {}

void TfmRestart::Timer1Timer() {
  TBatchListDialog::Timer1Timer();
  RestartDeviceData();
}

void TfmRestart::RestartDeviceData() { StartRun(PlainJob()); }

TfmReset::TfmReset(TIOProduct* product, QWidget* parent)
    : TBatchListDialog({"fmReset", "Reset Server", "Reset", BatchOp::Reset, 200, 2000,
                        "'Reset' function has finished.", "Reset"},
                       product, parent) {}

void TfmReset::Timer1Timer() {
  TBatchListDialog::Timer1Timer();
  ResetDeviceData();
}

void TfmReset::ResetDeviceData() { StartRun(PlainJob()); }

void TfmReset::btnExitClick() {
  RescanRequested = ShowMessage(this, "Do you want to initiate a new search for the device now?",
                                "Information", MsgIcon::Information, MB_YESNO) == MB_YES;
  TBatchListDialog::btnExitClick();
}

// ---- firmware upgrade ----------------------------------------------------------

const char* const TfmUpgradeFirmware::kFilter = "Vexilon Q6200 Series file (*.q6p )|*.q6p";

TfmUpgradeFirmware::TfmUpgradeFirmware(TIOProduct* product, QWidget* parent)
    : TBatchListDialog({"fmUpgradeFirmware", "Upgrade Server", "Upgrade", BatchOp::Upgrade, 100, 0,
                        "'Upgrade' function has finished.", "Upgrade Firmware"},
                       product, parent) {}

void TfmUpgradeFirmware::Timer1Timer() {
  TBatchListDialog::Timer1Timer();
  FileChoice c;
  c.caption = "Open";
  c.filter = kFilter;
  c.defaultSuffix = "q6p";
  c.canClose = [this](const QString& p) { return OpenDialog_FWCanClose(p); };
  if (ChooseFile(this, c).isEmpty()) {
    btnExit->setEnabled(true);
    ShowMessage(this, "'Upgrade' function was cancelled.", "Information", MsgIcon::Information, MB_OK);
    finished_ = true;
    emit runFinished();
    return;
  }
  UpgradeDeviceData();
}

bool TfmUpgradeFirmware::OpenDialog_FWCanClose(const QString& path) {
  szFirmwarePath_ = path;
  if (QFileInfo::exists(path)) return true;
  // No: close anyway (the run then reports the file as incorrect).
  return ShowMessage(this, "The file does not exist. Do you want to check again?", "Warning",
                     MsgIcon::Warning, MB_YESNO) == MB_NO;
}

void TfmUpgradeFirmware::UpgradeDeviceData() {
  ORV_TRACE("TfmUpgradeFirmware::UpgradeDeviceData");
  auto image = std::make_shared<FirmwareImage>();
  const FirmwareCheck check = LoadFirmwareFile(szFirmwarePath_.toLocal8Bit().toStdString(), *image);
  if (check != FirmwareCheck::Ok) {
    BitBtn_Stop->setEnabled(false);
    ShowMessage(this, "'Upgrade' function  failed. The firmware file is incorrect.", "Error",
                MsgIcon::Error, MB_OK);
    EnterFinished();
    return;
  }
  PB_Speed->setMaximum(FirmwareProgressMax(static_cast<uint32_t>(image->image.size())));
  BatchJob job = PlainJob();
  image_ = image;
  job.firmware = std::move(image);
  // The last selected device cannot be stopped.
  job.stopCloseCount = product_ ? product_->SelectedList.size() : 0;
  StartRun(std::move(job));
}

void TfmUpgradeFirmware::OnStarted(std::size_t index, bool last) {
  TBatchListDialog::OnStarted(index, last);
  PB_Speed->setValue(0);  // the bar follows the transfer of this device
}

void TfmUpgradeFirmware::OnProgress(std::size_t, int32_t blocks) {
  PB_Speed->setValue(std::clamp(blocks, 0, PB_Speed->maximum()));
}

void TfmUpgradeFirmware::OnFinished(std::size_t index, const BatchResult& result) {
  if (QTableWidgetItem* it = lvVexil->item(static_cast<int>(index), kResultColumn))
    it->setText(Text(RowResultText(result)));
}

// ---- folder chooser --------------------------------------------------------------

TfmDirSel::TfmDirSel(QString& path, QWidget* parent) : QDialog(parent), path_(path) {
  setObjectName("fmDirSel");
  setWindowTitle("Export file path");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  setModal(true);
  resize(460, 420);
  auto* layout = new QVBoxLayout(this);
  DriveComboBox1 = new QComboBox(this);
  DriveComboBox1->setObjectName("DriveComboBox1");
  SetAccessible(DriveComboBox1, "Places");
  // Where a Linux user keeps files: home, the root, mounted volumes.
  QStringList places{QDir::homePath(), "/"};
  for (const QString& base : {QString("/media"), QString("/mnt")}) {
    for (const QFileInfo& d : QDir(base).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      places << d.absoluteFilePath();
      for (const QFileInfo& u : QDir(d.absoluteFilePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (base == "/media") places << u.absoluteFilePath();  // /media/USER/VOLUME
    }
  }
  places.removeDuplicates();
  DriveComboBox1->addItems(places);
  layout->addWidget(DriveComboBox1);
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  model_->setRootPath("/");
  DirectoryListBox1 = new QTreeView(this);
  DirectoryListBox1->setObjectName("DirectoryListBox1");
  DirectoryListBox1->setModel(model_);
  DirectoryListBox1->setHeaderHidden(true);
  for (int c = 1; c < model_->columnCount(); ++c) DirectoryListBox1->hideColumn(c);
  SetAccessible(DirectoryListBox1, "Folders");
  layout->addWidget(DirectoryListBox1, 1);
  Label_Path = new QLabel(this);
  Label_Path->setObjectName("Label_Path");
  Label_Path->setTextFormat(Qt::PlainText);
  SetAccessible(Label_Path, "Folder");
  layout->addWidget(Label_Path);
  auto* buttons = new QHBoxLayout();
  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  SetAccessible(BitBtn1, "OK");
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
  BitBtn2->setObjectName("BitBtn2");
  SetAccessible(BitBtn2, "Cancel");
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  layout->addLayout(buttons);
  connect(BitBtn1, &QPushButton::clicked, this, &TfmDirSel::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TfmDirSel::BitBtn2Click);
  connect(DirectoryListBox1->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& i) { Label_Path->setText(model_->filePath(i)); });
  // Once the user moves in the tree, the start folder no longer pulls it back.
  DirectoryListBox1->installEventFilter(this);
  DirectoryListBox1->viewport()->installEventFilter(this);
  // Starts at the process's current folder, with the place that holds it.
  const QString start = QDir::currentPath();
  int place = static_cast<int>(places.indexOf("/"));
  for (int k = 0; k < places.size(); ++k) {
    const QString prefix = places[k].endsWith('/') ? places[k] : places[k] + "/";
    if ((start == places[k] || start.startsWith(prefix)) && places[k].size() > places[place].size()) place = k;
  }
  DriveComboBox1->setCurrentIndex(place);
  connect(DriveComboBox1, &QComboBox::currentTextChanged, this, &TfmDirSel::ShowFolder);
  connect(model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& dir) {
    if (pending_.startsWith(dir)) RevealPending();
  });
  ShowFolder(start);
}

void TfmDirSel::ShowFolder(const QString& folder) {
  pending_ = folder;
  Label_Path->setText(folder);
  RevealPending();
}

bool TfmDirSel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress) pending_.clear();
  return QDialog::eventFilter(watched, event);
}

void TfmDirSel::RevealPending() {
  if (pending_.isEmpty()) return;
  const QModelIndex i = model_->index(pending_);
  if (!i.isValid()) return;
  // The model reads folders in the background: open each parent as it comes.
  for (QModelIndex p = i.parent(); p.isValid(); p = p.parent()) DirectoryListBox1->expand(p);
  DirectoryListBox1->setCurrentIndex(i);
  DirectoryListBox1->scrollTo(i, QAbstractItemView::PositionAtCenter);
}

void TfmDirSel::BitBtn1Click() {
  path_ = Label_Path->text();
  accept();
}

void TfmDirSel::BitBtn2Click() {
  path_.clear();
  QDialog::reject();
}

QString TfmDirSel::Choose(QWidget* parent) {
  FileChoice c;
  c.caption = "Export file path";
  if (FileScript::Enabled()) return ChooseFile(parent, c);  // the script answers the folder
  QString path;
  TfmDirSel d(path, parent);
  d.exec();
  return path;
}

// ---- export and import ----------------------------------------------------------

TfmExport::TfmExport(TIOProduct* product, QWidget* parent)
    : TBatchListDialog({"fmExport", "Export Server", "Export", BatchOp::Export, 200, 0,
                        "Export configuration completed.", "Export"},
                       product, parent) {}

bool TfmExport::SaveDialog_ExportCanClose(const QString& path) {
  szPath_ = QString::fromStdString(ExportWithTxtExtension(path.toStdString()));
  if (!QFileInfo::exists(szPath_)) return true;
  return ShowMessage(this, "The file already exists. Do you want to replace it?", "Warning", MsgIcon::Warning,
                     MB_YESNO) == MB_YES;
}

void TfmExport::Timer1Timer() {
  TBatchListDialog::Timer1Timer();
  auto cancelled = [this] {
    ShowMessage(this, "'Export' function was cancelled.", "Information", MsgIcon::Information, MB_OK);
    BitBtn_Stop->setEnabled(false);
    btnExit->setEnabled(true);
    finished_ = true;
    emit runFinished();
  };
  if (devices_.size() == 1) {
    FileChoice c;
    c.caption = "Save As";
    c.filter = "text file (*.txt)|*.txt";
    c.defaultSuffix = "txt";
    c.directory = QString::fromStdString(ExportSingleFileName(devices_[0].model));
    c.save = true;
    c.canClose = [this](const QString& p) { return SaveDialog_ExportCanClose(p); };
    if (ChooseFile(this, c).isEmpty()) return cancelled();
  } else {
    szPath_ = TfmDirSel::Choose(this);
    if (szPath_.isEmpty()) return cancelled();
    ShowMessage(this, "the export file naming format is qx62xx_MAC address.txt.\n\nSave path: " + szPath_, "",
                MsgIcon::None, MB_OK);
  }
  ExportDeviceData();
}

void TfmExport::ExportDeviceData() {
  ORV_TRACE("TfmExport::ExportDeviceData");
  for (BatchDevice& d : devices_) {
    d.exportPath = devices_.size() == 1
                       ? szPath_.toLocal8Bit().toStdString()
                       : ExportDevicePath(szPath_.toLocal8Bit().toStdString(), d.model, d.mac);
  }
  BatchJob job = PlainJob();
  job.exportTransfer = exportTransfer;
  StartRun(std::move(job));
}

void TfmExport::OnEnded(const BatchSummary& summary) {
  if (summary.aborted) {
    // A file that cannot be made ends the run; the bar keeps its position.
    ShowMessage(this, "Open 'Export' file failed.", "Error", MsgIcon::Error, MB_OK);
    BitBtn_Stop->setEnabled(false);
    btnExit->setEnabled(true);
    btnSaveResults->setEnabled(summary_.ran > 0);
    finished_ = true;
    emit runFinished();
    return;
  }
  if (!summary.stopped) {
    BitBtn_Stop->setEnabled(false);
    const bool oneGood = devices_.size() == 1 && summary.results[0].ran && summary.results[0].code == 0;
    if (oneGood) {
      if (ShowMessage(this, "Export configuration completed.\n\nDo you want to open the configuration text file?",
                      "Confirm", MsgIcon::Question, MB_YESNO) == MB_YES)
        OpenTextFile(QString::fromLocal8Bit(devices_[0].exportPath.c_str()));
    } else {
      ShowMessage(this, kind_.finishMessage, "Information", MsgIcon::Information, MB_OK);
    }
  }
  EnterFinished();
}

TfmImport::TfmImport(TIOProduct* product, QWidget* parent)
    : TBatchListDialog({"fmImport", "Import Server", "Import", BatchOp::Import, 200, 0,
                        "Import configuration completed.", "Import"},
                       product, parent) {}

bool TfmImport::OpenDialog_ImportCanClose(const QString& path) {
  szPath_ = path;
  if (QFileInfo::exists(path)) return true;
  return ShowMessage(this, "The file does not exist. Do you want to check again?", "Warning", MsgIcon::Warning,
                     MB_YESNO) == MB_NO;
}

void TfmImport::Timer1Timer() {
  TBatchListDialog::Timer1Timer();
  FileChoice c;
  c.caption = "Open";
  c.filter = "text file (*.txt )|*.txt";
  c.canClose = [this](const QString& p) { return OpenDialog_ImportCanClose(p); };
  if (ChooseFile(this, c).isEmpty()) {
    btnExit->setEnabled(true);
    ShowMessage(this, "'Import' function was cancelled.", "Information", MsgIcon::Information, MB_OK);
    finished_ = true;
    emit runFinished();
    return;
  }
  bool update = false;
  if (devices_.size() < 2) {
    update = ShowMessage(this, "Do you want to update network settings (IP, Gateway, etc.), too?", "Confirm",
                         MsgIcon::Question, MB_YESNO) == MB_YES;
  } else {
    ShowMessage(this, "The device network setting will not update.", "Information", MsgIcon::Information, MB_OK);
  }
  ImportDeviceData(update);
}

void TfmImport::ImportDeviceData(bool updateNetwork) {
  ORV_TRACE("TfmImport::ImportDeviceData");
  auto text = std::make_shared<std::vector<uint8_t>>();
  auto stopHere = [this](const QString& message) {
    ShowMessage(this, message, "Error", MsgIcon::Error, MB_OK);
    BitBtn_Stop->setEnabled(false);
    btnExit->setEnabled(true);
    finished_ = true;
    emit runFinished();
  };
  const ConfigLoad load = LoadConfigFile(szPath_.toLocal8Bit().toStdString(), *text);
  if (load == ConfigLoad::Empty || load == ConfigLoad::TooLongForDevice)
    return stopHere(QString("Open 'Import' file failed.\n(") + ConfigLoadText(load) + ")");
  if (load != ConfigLoad::Ok) return stopHere("Open 'Import' file failed.");
  if (!ConfigHasModelType(*text))
    ShowMessage(this, "The file has no \"MOD_TYPE=\": the model cannot be checked.", "Warning", MsgIcon::Warning,
                MB_OK);
  // The first row's model decides for all rows; nothing is written on a mismatch.
  if (!devices_.empty() && !ConfigModelMatches(*text, devices_[0].model))
    return stopHere("Import file does not match the model type.");
  ApplyNetConfigRule(*text, updateNetwork);  // the file on disk stays as it is
  text_ = text;
  BatchJob job = PlainJob();
  job.config = std::move(text);
  StartRun(std::move(job));
}

}  // namespace orv::ui
