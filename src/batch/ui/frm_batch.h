#pragma once
// The batch dialogs: one device operation over every selected device, one
// device after the other, with a result per device. The device loop is the
// shared runner (batch/batch_runner.h) on a worker thread; its reports reach
// the dialog as queued calls, so the window never blocks.
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "batch/batch_runner.h"
#include "inventory/io_product.h"

class QComboBox;
class QFileSystemModel;
class QLabel;
class QTreeView;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace orv::ui {

// Set by the reset and IP change dialogs from the user's answer to the
// re-search question; read by the main window after they closed.
extern bool RescanRequested;

// Routes, log and pause clock every batch dialog uses unless a test hands
// its own to one dialog.
BatchRoutes& BatchDialogRoutes();
OperationsLog& BatchDialogLog();

class TBatchListDialog : public QDialog {
  Q_OBJECT
 public:
  struct Kind {
    const char* objectName;
    QString caption;       // "Restart Server"
    QString column;        // "Restart"
    BatchOp op;
    int timerMs;           // start timer interval
    int pauseMs;           // after each device
    QString finishMessage;
    QString stopName;      // 'Restart' in the stop message
  };
  TBatchListDialog(const Kind& kind, TIOProduct* product, QWidget* parent = nullptr);
  ~TBatchListDialog() override;

  void LoadDeviceList();
  bool Running() const { return running_; }
  bool Finished() const { return finished_; }
  const std::vector<BatchDevice>& Devices() const { return devices_; }
  const BatchSummary& Summary() const { return summary_; }

  // Test hooks: the device operation (empty: the module's command), the
  // clock of the pause after each device, the routes.
  std::function<int32_t(BatchDevice&, TProgressBar*)> deviceOperation;
  BatchClock* clock = nullptr;
  BatchRoutes routes;

  QTableWidget* lvVexil;
  QProgressBar* PB_Speed;
  QPushButton* BitBtn_Stop;
  QPushButton* btnExit;
  QPushButton* btnSaveResults;
  QTimer* Timer1;

 signals:
  // The run has ended and the dialog is in its finished state.
  void runFinished();

 public slots:
  void FormActivate();
  virtual void Timer1Timer();
  void BitBtn_StopClick();
  virtual void btnExitClick();
  void btnSaveResultsClick();

 protected:
  // The dialog's operation with the product's interface and its pause.
  BatchJob PlainJob() const;
  // Starts the runner with the dialog's devices.
  void StartRun(BatchJob job);
  // Enters the finished state: Stop off, bar full, Exit on.
  void EnterFinished();
  virtual void OnStarted(std::size_t index, bool last);
  virtual void OnProgress(std::size_t index, int32_t blocks);
  virtual void OnFinished(std::size_t index, const BatchResult& result);
  // The run has ended: the worker is joined and summary_ holds its summary.
  virtual void OnEnded(const BatchSummary& summary);

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

  Kind kind_;
  TIOProduct* product_;
  TIOObjList* list_;
  std::vector<BatchDevice> devices_;
  BatchSummary summary_;
  StopToken stop_;
  std::thread worker_;
  bool running_ = false;
  bool finished_ = false;
  bool activated_ = false;
  bool leaving_ = false;  // btnExit pressed: the dialog may close
};

class TfmRestart : public TBatchListDialog {
  Q_OBJECT
 public:
  explicit TfmRestart(TIOProduct* product, QWidget* parent = nullptr);
  void Timer1Timer() override;
  void RestartDeviceData();
};

class TfmReset : public TBatchListDialog {
  Q_OBJECT
 public:
  explicit TfmReset(TIOProduct* product, QWidget* parent = nullptr);
  void Timer1Timer() override;
  void ResetDeviceData();
  void btnExitClick() override;
};

class TfmUpgradeFirmware : public TBatchListDialog {
  Q_OBJECT
 public:
  explicit TfmUpgradeFirmware(TIOProduct* product, QWidget* parent = nullptr);
  void Timer1Timer() override;
  // The open dialog's close-query rule: takes the path; a missing file asks
  // whether to choose again.
  bool OpenDialog_FWCanClose(const QString& path);
  void UpgradeDeviceData();
  QString FirmwarePath() const { return szFirmwarePath_; }
  // The image of the run (null before a file passed the checks).
  const FirmwareImage* Image() const { return image_.get(); }
  static const char* const kFilter;

 protected:
  void OnStarted(std::size_t index, bool last) override;
  void OnProgress(std::size_t index, int32_t blocks) override;
  void OnFinished(std::size_t index, const BatchResult& result) override;

 private:
  QString szFirmwarePath_;
  std::shared_ptr<const FirmwareImage> image_;
};

// The folder chooser of a multi-device export: delivers one folder, or an
// empty text when the user cancelled.
class TfmDirSel : public QDialog {
  Q_OBJECT
 public:
  TfmDirSel(QString& path, QWidget* parent = nullptr);
  // Shows the chooser (scripted through FileScript while that is on).
  static QString Choose(QWidget* parent);

  QComboBox* DriveComboBox1;
  QTreeView* DirectoryListBox1;
  QLabel* Label_Path;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

 public slots:
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void reject() override { BitBtn2Click(); }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowFolder(const QString& folder);
  void RevealPending();
  QString& path_;
  QString pending_;  // the folder to show once the model has read its way there
  QFileSystemModel* model_;
};

class TfmExport : public TBatchListDialog {
  Q_OBJECT
 public:
  explicit TfmExport(TIOProduct* product, QWidget* parent = nullptr);
  void Timer1Timer() override;
  // The save dialog's close-query rule: ".txt" appended when the name has
  // none (exact case); an existing file asks to be replaced.
  bool SaveDialog_ExportCanClose(const QString& path);
  void ExportDeviceData();
  QString Path() const { return szPath_; }
  // Test hook: the device's part of each export (empty: the module's).
  std::function<int32_t(BatchDevice&, std::FILE*)> exportTransfer;

 protected:
  void OnEnded(const BatchSummary& summary) override;

 private:
  QString szPath_;
};

class TfmImport : public TBatchListDialog {
  Q_OBJECT
 public:
  explicit TfmImport(TIOProduct* product, QWidget* parent = nullptr);
  void Timer1Timer() override;
  bool OpenDialog_ImportCanClose(const QString& path);
  void ImportDeviceData(bool updateNetwork);
  // The text sent to the devices (after the network rule).
  const std::vector<uint8_t>* Text() const { return text_.get(); }

 private:
  QString szPath_;
  std::shared_ptr<const std::vector<uint8_t>> text_;
};

}  // namespace orv::ui
