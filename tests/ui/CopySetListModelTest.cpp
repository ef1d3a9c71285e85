#include "ui/CopySetListModel.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <functional>
#include <string>
#include <vector>

using namespace ostrel;

namespace {

// Rows named by their sources; the other fields are derived from the name so that a row that
// lost a field to its neighbour shows.
std::vector<CopySet> Named(const QStringList& names)
{
    std::vector<CopySet> sets;
    for (const QString& name : names) {
        const std::string text = name.toStdString();
        sets.push_back({text, "/t/" + text, "01/01/01 00:00 " + text, "V" + text});
    }
    return sets;
}

QStringList Sources(const CopySetListModel& model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row) {
        names << model.index(row, CopySetListModel::Source).data().toString();
    }
    return names;
}

// Every row still holds the fields that belong to its source.
bool RowsWhole(const CopySetListModel& model)
{
    for (const CopySet& set : model.Sets()) {
        if (set != Named({QString::fromStdString(set.source)}).front()) {
            return false;
        }
    }
    return true;
}

QStringList SelectedSources(const QItemSelectionModel& selection)
{
    QStringList names;
    for (const QModelIndex& index : selection.selectedRows(CopySetListModel::Source)) {
        names << index.data().toString();
    }
    names.sort();
    return names;
}

} // namespace

class CopySetListModelTest : public QObject
{
    Q_OBJECT

private slots:
    void sortsByAColumn_data()
    {
        QTest::addColumn<QList<QStringList>>("rows"); // source, target, last run, volume name
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QStringList>("sources"); // the sources in the sorted order

        const QString umlaut = QString::fromUtf8("\xC3\xA4");
        QTest::newRow("letters as people read them")
            << QList<QStringList>{{"b"}, {"B"}, {umlaut}, {"A"}, {"a"}} << 0 << true
            << QStringList{"a", "A", umlaut, "b", "B"};
        QTest::newRow("descending is the reverse") << QList<QStringList>{{"b"}, {"B"}, {umlaut}, {"A"}, {"a"}}
                                                   << 0 << false << QStringList{"B", "b", umlaut, "A", "a"};
        const QList<QStringList> stamps{{"/s/x", "/t", "24/03/01 10:00", ""},
                                        {"/s/y", "/t", " ", ""},
                                        {"/s/z", "/t", "23/12/31 23:59", ""}};
        QTest::newRow("never run before every date")
            << stamps << 2 << true << QStringList{"/s/y", "/s/z", "/s/x"};
        QTest::newRow("never run after every date, descending")
            << stamps << 2 << false << QStringList{"/s/x", "/s/z", "/s/y"};
        const QList<QStringList> sameVolume{{"/s/1", "/t", " ", "USB"},
                                            {"/s/2", "/t", " ", "DISK"},
                                            {"/s/3", "/t", " ", "USB"},
                                            {"/s/4", "/t", " ", "DISK"}};
        QTest::newRow("equal texts keep their order")
            << sameVolume << 3 << true << QStringList{"/s/2", "/s/4", "/s/1", "/s/3"};
        QTest::newRow("equal texts keep their order, descending")
            << sameVolume << 3 << false << QStringList{"/s/1", "/s/3", "/s/2", "/s/4"};
        QTest::newRow("by target") << QList<QStringList>{{"/s/1", "/t/c"}, {"/s/2", "/t/a"}, {"/s/3", "/t/b"}}
                                   << 1 << true << QStringList{"/s/2", "/s/3", "/s/1"};
        QTest::newRow("no column") << QList<QStringList>{{"/s/2"}, {"/s/1"}} << 4 << true
                                   << QStringList{"/s/2", "/s/1"};
    }

    // The order does not follow the session's collation: a C locale sorts every capital first.
    void sortsByAColumn()
    {
        QFETCH(QList<QStringList>, rows);
        QFETCH(int, column);
        QFETCH(bool, ascending);
        QFETCH(QStringList, sources);
        const std::string previous = std::setlocale(LC_COLLATE, nullptr);
        std::setlocale(LC_COLLATE, "C");
        QLocale::setDefault(QLocale::c());

        std::vector<CopySet> sets;
        for (QStringList fields : rows) {
            while (fields.size() < 4) {
                fields << QString();
            }
            sets.push_back({fields[0].toStdString(), fields[1].toStdString(), fields[2].toStdString(),
                            fields[3].toStdString()});
        }
        CopySetListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.Reset(sets);
        // The first and the last row selected: the selection follows its copy sets.
        QItemSelectionModel selection(&model);
        const int last = model.rowCount() - 1;
        for (int row : {0, last}) {
            selection.select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        const QStringList selectedBefore = SelectedSources(selection);
        model.sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);

        std::setlocale(LC_COLLATE, previous.c_str());
        QLocale::setDefault(QLocale::system());
        QCOMPARE(Sources(model), sources);
        QCOMPARE(SelectedSources(selection), selectedBefore);
        // Whole copy sets move, not one column.
        for (const CopySet& set : model.Sets()) {
            const auto from = std::find_if(sets.begin(), sets.end(),
                                           [&](const CopySet& old) { return old.source == set.source; });
            QVERIFY(from != sets.end() && *from == set);
        }
    }

    void movesOneRow_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("delta");
        QTest::addColumn<QStringList>("sources");

        const QStringList unchanged{"a", "b", "c", "d"};
        QTest::newRow("up") << 2 << -1 << QStringList{"a", "c", "b", "d"};
        QTest::newRow("down") << 1 << 1 << QStringList{"a", "c", "b", "d"};
        QTest::newRow("up to the top") << 1 << -1 << QStringList{"b", "a", "c", "d"};
        QTest::newRow("down to the bottom") << 2 << 1 << QStringList{"a", "b", "d", "c"};
        QTest::newRow("up from the top") << 0 << -1 << unchanged;
        QTest::newRow("down from the bottom") << 3 << 1 << unchanged;
        QTest::newRow("no such row") << 4 << -1 << unchanged;
        QTest::newRow("two places") << 1 << 2 << unchanged;
    }

    void movesOneRow()
    {
        QFETCH(int, row);
        QFETCH(int, delta);
        QFETCH(QStringList, sources);
        CopySetListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.Reset(Named({"a", "b", "c", "d"}));
        const bool moves = sources != Sources(model);
        const QPersistentModelIndex kept(model.index(row, CopySetListModel::VolumeName));
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);

        QCOMPARE(model.Move(row, delta), moves);
        QCOMPARE(Sources(model), sources);
        QVERIFY(RowsWhole(model));
        QCOMPARE(moved.count(), moves ? 1 : 0);
        QCOMPARE(model.IsEdited(), moves);
        if (moves) {
            // A view's selection and current row go with the copy set.
            QCOMPARE(kept.row(), row + delta);
            QCOMPARE(kept.column(), int(CopySetListModel::VolumeName));
        }
    }

    // Each change shows in the view at the cells it touched, and marks the list edited; loading a
    // whole list does not.
    void changesReachTheViewAndMarkTheList()
    {
        const std::string stamp = "24/05/17 09:41";
        const struct
        {
            const char* name;
            std::function<void(CopySetListModel&)> change;
            QStringList sources;
            QList<int> changedRows; // rows of a dataChanged, first to last
            QList<int> changedColumns;
            bool edited;
        } cases[] = {
            {"a stamp",
             [&](CopySetListModel& m) { m.SetLastRun(1, stamp); },
             {"a", "b", "c"},
             {1, 1},
             {2, 2},
             true},
            {"a stamp for no row",
             [&](CopySetListModel& m) { m.SetLastRun(3, stamp); },
             {"a", "b", "c"},
             {},
             {},
             false},
            {"a replaced row",
             [](CopySetListModel& m) { m.Replace(2, Named({"x"}).front()); },
             {"a", "b", "x"},
             {2, 2},
             {0, 3},
             true},
            {"an appended row",
             [](CopySetListModel& m) { m.Append(Named({"d"}).front()); },
             {"a", "b", "c", "d"},
             {},
             {},
             true},
            {"a removed row", [](CopySetListModel& m) { m.Remove(0); }, {"b", "c"}, {}, {}, true},
            {"no row removed", [](CopySetListModel& m) { m.Remove(-1); }, {"a", "b", "c"}, {}, {}, false},
            {"a sort",
             [](CopySetListModel& m) { m.sort(0, Qt::DescendingOrder); },
             {"c", "b", "a"},
             {},
             {},
             true},
            {"a loaded list",
             [](CopySetListModel& m) {
                 m.Reset(Named({"y", "z"}));
             },
             {"y", "z"},
             {},
             {},
             false},
        };
        for (const auto& c : cases) {
            CopySetListModel model;
            QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.Reset(Named({"a", "b", "c"}));
            QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
            c.change(model);
            QVERIFY2(Sources(model) == c.sources, c.name);
            QVERIFY2(model.IsEdited() == c.edited, c.name);
            QList<int> rows;
            QList<int> columns;
            for (const QList<QVariant>& signal : changed) {
                const auto from = signal.at(0).toModelIndex();
                const auto to = signal.at(1).toModelIndex();
                rows << from.row() << to.row();
                columns << from.column() << to.column();
            }
            QVERIFY2(rows == c.changedRows && columns == c.changedColumns, c.name);
            if (QString(c.name) == "a stamp") {
                QCOMPARE(model.At(1), (CopySet{"b", "/t/b", stamp, "Vb"}));
                QCOMPARE(model.index(1, CopySetListModel::LastRun).data().toString(),
                         QString::fromStdString(stamp));
            } else {
                QVERIFY2(RowsWhole(model), c.name);
            }
        }
    }

    // Names that are not valid UTF-8 are shown as well as they go and kept as the bytes they were.
    void keepsTheBytesItWasGiven()
    {
        const CopySet odd{"/s\xff\xfe", "/t\x80", " ", "\xc3"};
        CopySetListModel model;
        model.Reset({odd, {"/a", "/b", " ", ""}});
        model.sort(0, Qt::DescendingOrder);
        model.Move(0, 1);
        QCOMPARE(model.Sets().back(), odd);
        QCOMPARE(model.index(1, CopySetListModel::Source).data().toString(),
                 QString::fromStdString(odd.source));
    }
};

QTEST_GUILESS_MAIN(CopySetListModelTest)
#include "CopySetListModelTest.moc"
