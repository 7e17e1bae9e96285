#pragma once
// The device list view: one row per discovered device with its name, model,
// addresses and firmware version; sorted by model after every search, re-sorted
// by a column click, banded by colour when sorted by name, model or firmware.
#include <QColor>
#include <QFrame>

#include "inventory/pd_scoutix.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace orv::ui {

class TfmQ6000 : public QFrame, public TProductView {
  Q_OBJECT
 public:
  // Creates the product's (empty) list of selected devices and sets its host
  // address to "255.255.255.255" until the first search ends.
  TfmQ6000(QWidget* owner, TScoutix* product);
  ~TfmQ6000() override;

  // The view interface of the inventory.
  void AttachTo(void* parent) override;
  void FillParent() override;
  void SetVisible(bool visible) override { setVisible(visible); }

  // The product's hooks.
  void OnInit() override;
  void OnAddIO(TIOObjList* list) override;

  // Row colours.
  static const QColor kWhite;
  static const QColor kSkyBlue;
  // True once two rows were compared (one flag for the program).
  static bool Sorted();
  static void ResetSorted();  // tests
  int SortColumn() const { return nSortColumn_; }
  QTableWidget* List() const { return lvVexil; }

 public slots:
  void btnRefreshClick();
  void lvVexilColumnClick(int column);
  void lvVexilClick();
  // Returns true when the key was handled (F5).
  bool lvVexilKeyDown(int key);
  // The selection becomes the product's SelectedList (MAC texts in list
  // order) and the main window's batch commands follow it.
  void lvVexilSelectItem();

 public:
  // Ascending order of two rows by the sort column (ASCII case-insensitive).
  bool lvVexilCompare(const QStringList& a, const QStringList& b) const;
  // Background of the row at position `row`, given the colour of the row above.
  QColor lvVexilCustomDrawItem(int row, const QColor& above) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyBands();
  QStringList RowTexts(int row) const;
  QStringList SelectedMacs() const;
  void SelectMacs(const QStringList& macs);
  void OpenMenuFromKeyboard();

  TScoutix* product_;
  TIOObjList* list_ = nullptr;
  int nSortColumn_ = 0;

  QFrame* PanelCaption;
  QLabel* Image1;
  QLabel* Label16;
  QGroupBox* GroupBox1;
  QTableWidget* lvVexil;
  QFrame* Panel1;
  QPushButton* btnRefresh;
};

}  // namespace orv::ui
