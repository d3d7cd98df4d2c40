// TListBox: a list box of byte-string rows, unsorted, with a fixed row height. Rows keep
// the exact bytes they were given (shown through DisplayText), so the names handed back
// to the engine are the names it listed. A model over a plain vector keeps a listing of
// a hundred thousand rows quick to show.
//
// The focused row (ItemIndex) is the current index; in a multi-selection list it need not
// be selected, and after the rows are replaced it is the first row, as in the list boxes
// of the platform the window was designed on. A single-selection list has no focused row
// until one is picked.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <string>
#include <vector>

class TStringListModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void Assign(std::vector<std::string> rows);
  void Insert(int row, std::string text);
  const std::vector<std::string>& Rows() const { return rows_; }
  void SetRowHeight(int height);

 private:
  std::vector<std::string> rows_;
  int rowHeight_ = 13;
};

class TListBox : public QListView {
 public:
  explicit TListBox(QWidget* parent = nullptr);

  void SetItemHeight(int height);
  void Assign(std::vector<std::string> rows);
  void Insert(int row, std::string text);
  void Clear() { Assign({}); }

  int Count() const { return static_cast<int>(model_.Rows().size()); }
  const std::string& Item(int row) const { return model_.Rows()[static_cast<std::size_t>(row)]; }
  const std::vector<std::string>& Items() const { return model_.Rows(); }
  int IndexOf(const std::string& text) const;

  int ItemIndex() const;  // the focused row, -1 when none
  void SetItemIndex(int row);
  bool Selected(int row) const;
  void SetSelected(int row, bool selected);
  int SelCount() const;
  std::vector<int> SelectedRows() const;  // ascending

 private:
  TStringListModel model_;
};
