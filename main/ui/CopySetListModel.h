#pragma once

#include "store/CopySet.h"

#include <QAbstractTableModel>

#include <string>
#include <vector>

namespace ostrel {

// The copy sets of the main list, in list order: what the list shows, the order a run works
// through them and the order the copy-set file receives. The texts are kept as the bytes they
// were read as, so names that are not valid UTF-8 are saved back unchanged. Every change except
// loading a whole list marks the list edited.
class CopySetListModel : public QAbstractTableModel, public CopySetRows
{
    Q_OBJECT

public:
    enum Column { Source, Target, LastRun, VolumeName, ColumnCount };

    explicit CopySetListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Sorts by one column in the order of CompareText. The sort is stable: rows whose texts are
    // the same keep their order in both directions. Indexes kept by views (the selection, the
    // current row) move with their copy sets.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    int Count() const override { return static_cast<int>(m_sets.size()); }
    const std::vector<CopySet>& Sets() const { return m_sets; }
    CopySet At(int row) const override;

    // Replaces the whole list, as loading a file does; the list is unedited afterwards.
    void Reset(std::vector<CopySet> sets);
    void Append(const CopySet& set);
    // Replaces every field of a row.
    void Replace(int row, const CopySet& set);
    void Remove(int row);
    // Moves a row one place up (delta -1) or down (+1) as a row move, so that indexes kept by
    // views follow it. False, and nothing changes, when either row is not in the list.
    bool Move(int row, int delta);
    // Writes a row's last-run stamp.
    void SetLastRun(int row, const std::string& stamp) override;

    // Whether the list changed since it was last loaded whole.
    bool IsEdited() const { return m_edited; }

    // The order of two texts in a sorted column: letters as people read them (a A ä b B), case
    // counting only between texts that are otherwise equal, whatever the locale of the session.
    static int CompareText(const QString& a, const QString& b);

    // The text of a copy set shown in a column.
    static const std::string& Field(const CopySet& set, int column);

private:
    bool IsRow(int row) const { return row >= 0 && row < Count(); }

    std::vector<CopySet> m_sets;
    bool m_edited = false;
};

} // namespace ostrel
