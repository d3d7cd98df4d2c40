#include "ui/ListBox.h"

#include <algorithm>

#include "ui/TextCodec.h"

int TStringListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TStringListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  if (role == Qt::DisplayRole) return DisplayText(rows_[static_cast<std::size_t>(index.row())]);
  if (role == Qt::SizeHintRole) return QSize(0, rowHeight_);
  return {};
}

void TStringListModel::Assign(std::vector<std::string> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void TStringListModel::SetRowHeight(int height) {
  // A reset, so that a view of uniform rows measures them again.
  beginResetModel();
  rowHeight_ = height;
  endResetModel();
}

void TStringListModel::Insert(int row, std::string text) {
  beginInsertRows(QModelIndex(), row, row);
  rows_.insert(rows_.begin() + row, std::move(text));
  endInsertRows();
}

TListBox::TListBox(QWidget* parent) : QListView(parent), model_(this) {
  setModel(&model_);
  setUniformItemSizes(true);  // one row height for all: layout stays linear in time
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TListBox::SetItemHeight(int height) {
  model_.SetRowHeight(height);
}

void TListBox::Assign(std::vector<std::string> rows) {
  model_.Assign(std::move(rows));
  if (selectionMode() != QAbstractItemView::SingleSelection && Count() > 0) {
    selectionModel()->setCurrentIndex(model_.index(0), QItemSelectionModel::NoUpdate);
  }
}

void TListBox::Insert(int row, std::string text) {
  model_.Insert(row, std::move(text));
}

int TListBox::IndexOf(const std::string& text) const {
  const auto& rows = model_.Rows();
  const auto it = std::find(rows.begin(), rows.end(), text);
  return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

int TListBox::ItemIndex() const {
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return -1;
  if (selectionMode() == QAbstractItemView::SingleSelection && !selectionModel()->isSelected(current)) return -1;
  return current.row();
}

void TListBox::SetItemIndex(int row) {
  if (row < 0 || row >= Count()) {
    selectionModel()->clearCurrentIndex();
    return;
  }
  const auto command = selectionMode() == QAbstractItemView::SingleSelection ? QItemSelectionModel::ClearAndSelect
                                                                            : QItemSelectionModel::NoUpdate;
  selectionModel()->setCurrentIndex(model_.index(row), command);
}

bool TListBox::Selected(int row) const {
  return selectionModel()->isRowSelected(row, QModelIndex());
}

void TListBox::SetSelected(int row, bool selected) {
  selectionModel()->select(model_.index(row), selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

int TListBox::SelCount() const {
  return static_cast<int>(selectionModel()->selectedRows().size());
}

std::vector<int> TListBox::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}
