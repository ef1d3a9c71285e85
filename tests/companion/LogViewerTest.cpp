#include "CompanionFixture.h"
#include "WindowFinder.h"
#include "companion/core/FileReplace.h"
#include "companion/ui/Twips.h"
#include "companion/ui/frmLog.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <cstdlib>
#include <optional>

using namespace brennick;
using namespace brennick::test;
using ostrel::test::MakeTree;
using ostrel::test::WriteFile;

namespace {

QListWidget* List(QWidget* viewer)
{
    return ostrel::test::Find<QListWidget>(viewer, QStringLiteral("List1"));
}

QStringList Entries(QWidget* viewer)
{
    return ostrel::test::ItemTexts(List(viewer));
}

} // namespace

class LogViewerTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CompanionFolder> m_folder;

    // Settings naming the main program at program, and a copy log beside it.
    void Setup(const std::string& program, const std::optional<std::string>& log)
    {
        m_folder->WriteIni("[Past]\r\ntext1=" + program + "\r\n");
        if (log) {
            WriteFile(FolderOf(program) + "velmor.log", *log);
        }
    }

private slots:
    void init()
    {
        ResetScripts();
        m_folder = std::make_unique<CompanionFolder>();
    }

    void cleanup()
    {
        QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
        QCOMPARE(MessageBoxes::PendingCount(), 0);
        m_folder.reset();
    }

    void showsTheLogFieldByField_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("commas split entries")
            << "/d/a,b.txt (2002/12/08 9:05:30)  追加コピー\r\n"
            << QStringList{"/d/a", "b.txt (2002/12/08 9:05:30)  追加コピー"};
        QTest::newRow("leading blanks are dropped") << "   /d/x  削除\r\n" << QStringList{"/d/x  削除"};
        QTest::newRow("empty lines give empty entries") << "a\r\n\r\nb\r\n\r\n"
                                                        << QStringList{"a", "", "b", ""};
        QTest::newRow("a quoted field keeps its commas") << "x,\"1,2,3\"\r\n" << QStringList{"x", "1,2,3"};
    }

    void showsTheLogFieldByField()
    {
        QFETCH(QString, log);
        QFETCH(QStringList, entries);
        Setup(m_folder->Path("tools/Parvane"), log.toStdString());
        frmLog viewer(m_folder->Folder(), nullptr);
        QCOMPARE(Entries(&viewer), entries);
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }

    void theLogIsFoundBesideTheProgramWhateverItsName()
    {
        // A name of another length than 11 still leads to its own folder.
        Setup(m_folder->Path("my tools/parvane-1.2"), std::string("here\r\n"));
        WriteFile(m_folder->Path("velmor.log"), "wrong folder\r\n");
        frmLog viewer(m_folder->Folder(), nullptr);
        QCOMPARE(Entries(&viewer), QStringList{QStringLiteral("here")});
    }

    void withoutTheMainProgramTheViewerSaysSo()
    {
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        frmLog viewer(m_folder->Folder(), nullptr);
        QCOMPARE(MessageBoxes::ShownTexts(),
                 QStringList{QStringLiteral("PRVNのディレクトリが指定されていません")});
        QCOMPARE(MessageBoxes::ShownBoxes().front().buttons, BoxButtons::Ok);
        QCOMPARE(Entries(&viewer), QStringList());
    }

    void beforeAnyRunTheListIsEmptyAndSilent_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("no log yet") << "tools/Parvane";
        QTest::newRow("a folder where the log should be") << "folder/Parvane";
        QTest::newRow("no folder in the path") << "";
    }

    void beforeAnyRunTheListIsEmptyAndSilent()
    {
        QFETCH(QString, program);
        if (program.isEmpty()) {
            m_folder->WriteIni("[Past]\r\ntext1=Parvane\r\n");
        } else {
            Setup(m_folder->Path(program.toStdString()), std::nullopt);
        }
        MakeTree(m_folder->Path("folder/velmor.log"), {});
        frmLog viewer(m_folder->Folder(), nullptr);
        QCOMPARE(Entries(&viewer), QStringList());
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }

    void selectingAnyEntryClosesTheViewer_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("click on a text") << "click 0";
        QTest::newRow("click on an empty entry") << "click 1";
        QTest::newRow("arrow key") << "key Down";
        QTest::newRow("Up on the first entry") << "key Up";
        QTest::newRow("Home on the first entry") << "key Home";
        QTest::newRow("End") << "key End";
    }

    void selectingAnyEntryClosesTheViewer()
    {
        QFETCH(QString, how);
        Setup(m_folder->Path("tools/Parvane"), std::string("first\r\n\r\nthird\r\n"));
        frmLog viewer(m_folder->Folder(), nullptr);
        QCOMPARE(viewer.windowTitle(), QStringLiteral("ログの表示"));
        QCOMPARE(viewer.size(), QSize(TwipsToPixelsX(&viewer, 9735), TwipsToPixelsY(&viewer, 3015)));
        QListWidget* list = List(&viewer);
        QCOMPARE(list->geometry(),
                 QRect(TwipsToPixelsX(list, 120), TwipsToPixelsY(list, 120), TwipsToPixelsX(list, 9495),
                       TwipsToPixelsY(list, 2760)));
        bool acted = false;
        QTimer::singleShot(50, &viewer, [&] {
            acted = true;
            if (how.startsWith(QStringLiteral("click"))) {
                int row = how.back().digitValue();
                QRect rect = list->visualItemRect(list->item(row));
                QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
            } else {
                const QMap<QString, Qt::Key> keys{{"key Down", Qt::Key_Down},
                                                  {"key Up", Qt::Key_Up},
                                                  {"key Home", Qt::Key_Home},
                                                  {"key End", Qt::Key_End}};
                list->setFocus();
                QTest::keyClick(list, keys.value(how));
            }
        });
        QTimer::singleShot(5000, &viewer, [&] { viewer.reject(); }); // a safety net, never the answer
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(viewer.exec(), int(QDialog::Accepted));
        QVERIFY(acted);
        QVERIFY(clock.elapsed() < 4000);
        QVERIFY(!viewer.isVisible());
    }

    void theListScrollsSidewaysToItsWidestEntry()
    {
        const std::string longLine = "/media/u/USB1/" + std::string(400, 'x') + ".txt  削除【失敗】";
        Setup(m_folder->Path("tools/Parvane"), "short\r\n" + longLine + "\r\nshort again\r\n");
        frmLog viewer(m_folder->Folder(), nullptr);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        QListWidget* list = List(&viewer);
        QScrollBar* bar = list->horizontalScrollBar();
        const QModelIndex index = list->model()->index(1, 0);
        const int rowWidth = list->visualRect(index).width();
        // The list scrolls exactly to the end of the widest row, which has room for its text and
        // one blank.
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->maximum() + list->viewport()->width(), rowWidth);
        QVERIFY(rowWidth
                >= QFontMetrics(list->font()).horizontalAdvance(QString::fromStdString(longLine) + " "));
        // And the text is drawn whole: the row paints the same as it would with room to spare,
        // where a row too narrow for its text ends it with an ellipsis.
        auto paint = [&](int width) {
            QImage image(rowWidth, list->visualRect(index).height(), QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            QStyleOptionViewItem option;
            option.initFrom(list);
            option.widget = list;
            option.rect = QRect(0, 0, width, image.height());
            option.textElideMode = list->textElideMode();
            list->itemDelegate()->paint(&painter, option, index);
            return image;
        };
        QVERIFY(paint(rowWidth) == paint(2 * rowWidth));

        // A log whose entries all fit needs no scrolling.
        Setup(m_folder->Path("tools/Parvane"), std::string("short\r\n"));
        frmLog narrow(m_folder->Folder(), nullptr);
        narrow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&narrow));
        QCOMPARE(List(&narrow)->horizontalScrollBar()->maximum(), 0);
    }
};

QTEST_MAIN(LogViewerTest)
#include "LogViewerTest.moc"
