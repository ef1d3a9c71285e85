#include "ui/CopySetListModel.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <utility>

namespace ostrel {

namespace {

const char* const kHeaders[CopySetListModel::ColumnCount] = {
    QT_TRANSLATE_NOOP("ostrel::CopySetListModel", "コピー元"),
    QT_TRANSLATE_NOOP("ostrel::CopySetListModel", "コピー先"),
    QT_TRANSLATE_NOOP("ostrel::CopySetListModel", "最終実行日時"),
    QT_TRANSLATE_NOOP("ostrel::CopySetListModel", "コピー先ボリューム名")};

} // namespace

CopySetListModel::CopySetListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int CopySetListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

int CopySetListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CopySetListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || !IsRow(index.row()) || index.column() < 0
        || index.column() >= ColumnCount) {
        return QVariant();
    }
    return QString::fromStdString(Field(m_sets[static_cast<std::size_t>(index.row())], index.column()));
}

QVariant CopySetListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return tr(kHeaders[section]);
}

Qt::ItemFlags CopySetListModel::flags(const QModelIndex& index) const
{
    // Texts are never edited in place; the copy-set dialog changes them.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

const std::string& CopySetListModel::Field(const CopySet& set, int column)
{
    switch (column) {
    case Source:
        return set.source;
    case Target:
        return set.target;
    case LastRun:
        return set.lastRun;
    default:
        return set.volumeName;
    }
}

CopySet CopySetListModel::At(int row) const
{
    return IsRow(row) ? m_sets[static_cast<std::size_t>(row)] : CopySet();
}

void CopySetListModel::Reset(std::vector<CopySet> sets)
{
    beginResetModel();
    m_sets = std::move(sets);
    m_edited = false;
    endResetModel();
}

void CopySetListModel::Append(const CopySet& set)
{
    beginInsertRows(QModelIndex(), Count(), Count());
    m_sets.push_back(set);
    m_edited = true;
    endInsertRows();
}

void CopySetListModel::Replace(int row, const CopySet& set)
{
    if (!IsRow(row)) {
        return;
    }
    m_sets[static_cast<std::size_t>(row)] = set;
    m_edited = true;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void CopySetListModel::Remove(int row)
{
    if (!IsRow(row)) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    m_sets.erase(m_sets.begin() + row);
    m_edited = true;
    endRemoveRows();
}

bool CopySetListModel::Move(int row, int delta)
{
    const int other = row + delta;
    if ((delta != -1 && delta != 1) || !IsRow(row) || !IsRow(other)) {
        return false;
    }
    // Qt names the place before which the row lands, counted before it is taken out.
    const int before = delta < 0 ? other : other + 1;
    beginMoveRows(QModelIndex(), row, row, QModelIndex(), before);
    std::swap(m_sets[static_cast<std::size_t>(row)], m_sets[static_cast<std::size_t>(other)]);
    m_edited = true;
    endMoveRows();
    return true;
}

void CopySetListModel::SetLastRun(int row, const std::string& stamp)
{
    if (!IsRow(row)) {
        return;
    }
    m_sets[static_cast<std::size_t>(row)].lastRun = stamp;
    m_edited = true;
    emit dataChanged(index(row, LastRun), index(row, LastRun));
}

void CopySetListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount) {
        return;
    }
    const int direction = order == Qt::AscendingOrder ? 1 : -1;
    std::vector<QString> keys;
    keys.reserve(m_sets.size());
    for (const CopySet& set : m_sets) {
        keys.push_back(QString::fromStdString(Field(set, column)));
    }
    // placed[new row] is the old row of the copy set that goes there.
    std::vector<int> placed(m_sets.size());
    std::iota(placed.begin(), placed.end(), 0);
    std::stable_sort(placed.begin(), placed.end(), [&](int a, int b) {
        return CompareText(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]) * direction
            < 0;
    });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRow(placed.size());
    std::vector<CopySet> sorted;
    sorted.reserve(m_sets.size());
    for (std::size_t i = 0; i < placed.size(); ++i) {
        newRow[static_cast<std::size_t>(placed[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_sets[static_cast<std::size_t>(placed[i])]));
    }
    m_sets = std::move(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& kept : from) {
        to.append(index(newRow[static_cast<std::size_t>(kept.row())], kept.column()));
    }
    changePersistentIndexList(from, to);
    m_edited = true;
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int CopySetListModel::CompareText(const QString& a, const QString& b)
{
    // A collator of its own locale: the session's LC_COLLATE may be C, which orders by code point
    // and puts every capital before every small letter.
    static const QCollator collator = [] {
        QCollator made(QLocale(QLocale::Japanese, QLocale::Japan));
        made.setCaseSensitivity(Qt::CaseSensitive);
        made.setNumericMode(false);
        made.setIgnorePunctuation(false);
        return made;
    }();
    const int compared = collator.compare(a, b);
    // Texts the collation holds equal still get an order of their own, as the comparison of the
    // platform gives.
    return compared != 0 ? compared : QString::compare(a, b);
}

} // namespace ostrel
