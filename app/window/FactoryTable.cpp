#include "app/window/FactoryTable.h"

#include <QBrush>
#include <QColor>

#include <cstdio>

CFactoryTable::CFactoryTable(CFactoryBoards& boards, QObject* parent) : QAbstractTableModel(parent), m_boards(boards) {}

void CFactoryTable::Reset() {
  beginResetModel();
  m_boards.TakeChanged();
  m_rows.clear();
  for (size_t i = 0; i < m_boards.Size(); ++i) m_rows.push_back(m_boards.Row(i));
  endResetModel();
}

size_t CFactoryTable::Refresh() {
  const auto changed = m_boards.TakeChanged();
  for (size_t i : changed) {
    if (i >= m_rows.size()) continue;
    m_rows[i] = m_boards.Row(i);
    emit dataChanged(index(static_cast<int>(i), 0), index(static_cast<int>(i), ColumnCount - 1));
  }
  return changed.size();
}

int CFactoryTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CFactoryTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

namespace {

QString Duration(double seconds) {
  if (seconds < 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return QString::fromLatin1(text);
}

QVariant StateColour(BoardState state) {
  switch (state) {
    case BoardState::Passed: return QBrush(QColor(0x1B, 0x7F, 0x2A));
    case BoardState::Failed: return QBrush(QColor(0xB0, 0x1C, 0x1C));
    default: return {};
  }
}

}  // namespace

QVariant CFactoryTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<size_t>(index.row()) >= m_rows.size()) return {};
  const FactoryRow& row = m_rows[static_cast<size_t>(index.row())];
  if (role == Qt::ForegroundRole && index.column() == StateColumn) return StateColour(row.state);
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  switch (index.column()) {
    case PortColumn: return QString::fromStdString(row.port);
    case StateColumn: return QString::fromStdString(StateText(row));
    case ProgressColumn: return QString::fromStdString(ProgressText(row));
    case PassedColumn: return QString::number(row.counts.passed);
    case FailedColumn: return QString::number(row.counts.failed);
    case LastColumn: return Duration(row.lastSeconds);
    default: return {};
  }
}

QVariant CFactoryTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kNames[ColumnCount] = {"Port", "State", "Progress", "Passed", "Failed", "Last"};
  return section >= 0 && section < ColumnCount ? QString::fromLatin1(kNames[section]) : QVariant();
}
