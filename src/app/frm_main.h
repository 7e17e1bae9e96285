#pragma once
// The main window: the inventory tree on the left, the view of the selected
// object on the right, the status bar with clock and elapsed time; it runs the
// first search half a second after it is first shown and every rescan,
// and on close releases the inventory and every device route it added.
#include <QDateTime>
#include <QIcon>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <vector>

#include "app/frm_wait.h"
#include "discovery/answer_handler.h"
#include "inventory/io_tree.h"
#include "inventory/pd_scoutix.h"

class QAction;
class QPoint;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orv::ui {

class TfmMain;
class TfmQ6000;
extern TfmMain* fmMain;

// "%d:hh:mm:ss": whole days, then the time of day of the span.
QString ElapsedText(qint64 seconds);

// What the window does to the host's interface and route tables. Process-wide
// so tests can replace it before a window is created (they must not change
// the tables of the machine they run on).
struct HostOps {
  std::function<int()> RemoveStaleRoutes;
  std::function<std::string()> RefreshInterfaces;
  std::function<bool(const std::string& localIP, const std::string& deviceIP,
                     const std::string& mac, std::string* error)> AddRoute;
  std::function<void()> ReleaseInterfaces;
  std::function<bool()> CanChangeRoutes;
};
HostOps& MainHostOps();

class TfmMain : public QMainWindow {
  Q_OBJECT
 public:
  explicit TfmMain(QWidget* parent = nullptr);
  ~TfmMain() override;

  // Runs one search dialog over `found`; returns the dialog's result
  // (QDialog::Accepted when a search was started). Tests replace it.
  std::function<int(std::vector<IONODE>& found)> RunSearchDialog;
  // Pause after the product was destroyed at close (console clients end).
  int nCloseWaitMs = 1000;

  void ScanSystem();
  void SortAndShow(int32_t mode);
  void EnableMainCommands(bool on);
  void SelectTreeNodeOf(TIOObject* object);

  bool bReady = false;
  int32_t nSortMode = 1;
  std::unique_ptr<TScoutix> mScoutix;
  QDateTime dtStart;
  bool bKeyUp = false;
  bool bFirstShow = true;

  QTreeWidget* Tree() const { return tvDAC; }
  QWidget* PanelParent() const { return nPanelParent; }
  TfmQ6000* DeviceList() const { return fmQ6000_; }
  QLabel* Status() const { return lbStatus; }

 public slots:
  void FormCreate();
  void FormShow();
  void Timer1Timer();
  void TimerNowTimer();
  void tvDACChanging(QTreeWidgetItem* node);
  void tvDACChange(QTreeWidgetItem* node);
  void tvDACKeyDown(int key);
  bool FormCloseQuery();
  void FormClose();

  // Commands.
  void Exit1Click();
  void muRescanClick();
  void muNICClick();
  void muASTClick();
  void muByConnectionClick();
  void muByModuleClick();
  void muAboutClick();
  void InitFunctionBtnFalse();
  void InitFunctionBtnTrue();
  void muModRemoteEPopup();
  void muAddModuleClick();
  void muDelModuleClick();
  void muRemoteERestartModuleClick();
  void muRemoteEResetModuleClick();
  void btnUpgradeClick();
  void btnImportClick();
  void btnExportClick();
  void btnChangeIPClick();
  // The device list's selection changed: the batch commands follow it.
  void DeviceSelectionChanged();
  // The device menu for the product's SelectedList, at a screen position.
  void PopupDeviceMenu(const QPoint& globalPos);
  // The menu of a tree node: a device's menu for that device alone, the
  // product's menu for the product node.
  void PopupTreeMenu(QTreeWidgetItem* item, const QPoint& globalPos);
  // A second start of the program asks this one to come to the front.
  void RaiseFromOtherInstance();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildForm();
  void BuildCommands();
  void ClearTreeQuietly();
  void MirrorTree();
  void SetBatchEnabled(bool on);
  TIOView* MakeConsoleView(TModNx9000& module);

  QtRestartWait restartWait_;
  TIOTree tree_;
  std::vector<QTreeWidgetItem*> nodes_;  // tree items in index order
  TfmQ6000* fmQ6000_ = nullptr;          // owned by mScoutix
  bool rebuilding_ = false;  // tree items are being replaced: no selection events
  bool closed_ = false;

  QWidget* CoolBar1;
  QToolBar* ToolBar1;
  QToolBar* ToolBar2;
  QWidget* Panel1;
  QTreeWidget* tvDAC;
  QSplitter* Splitter1;
  QWidget* nPanelParent;
  QWidget* Panel3;
  QLabel* lbStatus;
  QLabel* lbRights;
  QProgressBar* ProgressBar1;
  QLabel* PanelElapse;
  QLabel* PanelNow;
  QTimer* Timer1;
  QTimer* TimerNow;
  std::vector<QIcon> ImageList1;
  std::vector<QIcon> ImageList2;

  QMenu* muMain;
  QMenu* muFile;
  QMenu* muSystem;
  QMenu* muSort;
  QMenu* muHelp;
  std::vector<QToolButton*> menuButtons_;
  QAction* Exit1;
  QAction* muRescan;
  QAction* muNIC;
  QAction* muAST;
  QAction* muByConnection;
  QAction* muByModule;
  QAction* muHelp3k;
  QAction* muAbout;
  QAction* btnAutoSearch;
  QAction* btnSortCon;
  QAction* btnSortServer;
  QToolButton* btnUpgrade;
  QToolButton* btnImport;
  QToolButton* btnExport;
  QToolButton* btnChangeIP;
  QMenu* muVexil;
  QMenu* muModRemoteE;
  QAction* muAddPodModule;
  QAction* FirmwareUpgrade1;
  QAction* Import1;
  QAction* Export1;
  QAction* ChangeIP1;
  QAction* N2;
  QAction* muRemoteERestartModule;
  QAction* muDelModule;
  QAction* N1;
  QAction* muRemoteEResetModule;

 public:
  QMenu* DeviceMenu() const { return muModRemoteE; }
  QMenu* ProductMenu() const { return muVexil; }
};

}  // namespace orv::ui
