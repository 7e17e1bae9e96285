#pragma once
// The modal search dialog: the user restricts the search to model families
// and an address range, starts it, watches the devices arrive and may stop
// it. The search itself is the engine's; this dialog feeds it the user's
// choices, pumps its own events through it and shows what it finds.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "discovery/answer_handler.h"
#include "app/ui_support.h"
#include "discovery/search_engine.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTableWidget;
class QTimer;

namespace orv::ui {

// A small busy indicator turning while a search runs.
class SearchSpinner : public QWidget {
  Q_OBJECT
 public:
  explicit SearchSpinner(QWidget* parent = nullptr);
  void start();
  void stop();
  bool isActive() const;
  QSize sizeHint() const override { return {32, 32}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QTimer* timer_;
  int step_ = 0;
};

class TfmSearch : public QDialog, public SearchResultSink {
  Q_OBJECT
 public:
  // found receives every discovered device; it must outlive the dialog.
  // transport: the search socket (null: a UDP socket of the dialog's own).
  TfmSearch(QWidget* owner, std::vector<IONODE>& found, SearchTransport* transport = nullptr);
  ~TfmSearch() override;

  // The dialog whose search is running or about to run (null when none).
  static TfmSearch* Current();

  // Answer handling hands each new device here (from the search thread).
  void AddNewModule(IONODE node) override;
  // True while the search thread runs.
  bool Searching() const { return searching_; }

  // Replaces the host interface refresh done by Start (tests).
  void SetHostRefresh(std::function<void()> refresh) { refresh_ = std::move(refresh); }

  SearchEngine& Engine() { return *engine_; }
  uint32_t StartValue() const { return nStart_; }
  uint32_t EndValue() const { return nEnd_; }
  uint32_t MaskValue() const { return nMask_; }

 public slots:
  void btnStartSearchClick();
  void btnCancelSearchClick();
  void btnStopClick();
  void ckSearchRangeClick();
  void ckAllClick();
  void rbEndIPClick();
  void rbNetmaskClick();
  void etStartIPExit();
  void etEndIPExit();
  void etNetmaskExit();
  // Enter (and only Enter) checks the mask at once; returns true when handled.
  bool etNetmaskKeyDown(int key);

 public:
  void done(int result) override;
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormActivate();
  void StartSearch();
  void SearchFinished();
  void ListNewModule(IONODE node);
  // Runs f on the dialog's thread, after everything posted before it.
  void Post(std::function<void()> f);
  void BuildForm();
  void FieldMessage(const char* text, QLineEdit* focusBack);
  QString TrimField(QLineEdit* field);

  // Controls, named as the form names them.
  QPushButton* btnStartSearch;
  QPushButton* btnCancelSearch;
  QCheckBox* ckSearchRange;
  QGroupBox* gbSearchRange;
  QLineEdit* etStartIP;
  QRadioButton* rbEndIP;
  QLineEdit* etEndIP;
  QRadioButton* rbNetmask;
  QLineEdit* etNetmask;
  QCheckBox* ckAll;
  QGroupBox* gbDevice;
  QCheckBox* ckK7710;
  QCheckBox* ck4410;
  QLabel* lbFound;
  QLabel* Label2;
  QTableWidget* lvEnum;
  QProgressBar* ProgressBar1;
  QPushButton* btnStop;
  SearchSpinner* Animate1;
  QStatusBar* StatusBar1;
  QLabel* statusPanel0;
  QLabel* statusPanel1;

  std::vector<IONODE>& found_;
  std::unique_ptr<SearchTransport> ownTransport_;
  SearchTransport* transport_ = nullptr;
  std::thread worker_;
  std::optional<HourglassGuard> hourglass_;
  SteadySearchClock clock_;
  std::unique_ptr<SearchEngine> engine_;
  std::function<void()> refresh_;

  uint32_t nStart_ = 0, nEnd_ = 0, nMask_ = 0;
  int32_t nRangeUse_ = 0, nRangeChoice_ = 0, nSearchAll_ = 1, nK7710_ = 1, n4410_ = 1;
  int nProgressStep_ = 0;
  bool activated_ = false;
  bool searching_ = false;
  int pendingResult_ = QDialog::Accepted;
  // A field check is showing its message or putting the focus back: no
  // other field check runs meanwhile.
  bool checking_ = false;
};

}  // namespace orv::ui
