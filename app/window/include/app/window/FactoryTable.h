// The factory view's table: one row per board, redrawn from the rows the
// boards model reports changed, so the view costs the same however fast
// the boards stream.
#pragma once

#include "app/window/FactoryBoards.h"

#include <QAbstractTableModel>

#include <vector>

class CFactoryTable : public QAbstractTableModel {
  Q_OBJECT
public:
  enum ColumnId { PortColumn, StateColumn, ProgressColumn, PassedColumn, FailedColumn, LastColumn, ColumnCount };

  explicit CFactoryTable(CFactoryBoards& boards, QObject* parent = nullptr);

  // All rows again (boards added or removed).
  void Reset();
  // The rows the boards changed since the last call; returns how many.
  size_t Refresh();
  const FactoryRow& Shown(size_t row) const { return m_rows.at(row); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  CFactoryBoards& m_boards;
  std::vector<FactoryRow> m_rows;
};
