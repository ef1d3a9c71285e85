#include "DialogDriver.h"
#include "FakeVolumes.h"
#include "TestTree.h"
#include "TmpfsMount.h"
#include "WindowFinder.h"
#include "store/CommandLine.h"
#include "store/CopySetFile.h"
#include "ui/CopyAnimation.h"
#include "ui/CopySetListModel.h"
#include "ui/Dialogs.h"
#include "ui/Maker.h"
#include "ui/MessageBoxes.h"
#include "ui/PathLabel.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmProgress.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <clocale>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace ostrel;
using ostrel::test::Find;
using namespace std::string_literals;

namespace {

const char* const kSelectionButtons[] = {"cmdEditSet", "cmdDeleteSet", "cmdExeCopy", "cmdUp", "cmdDown"};
const char* const kAlwaysOnButtons[] = {"cmdAddSet", "cmdShowLog", "cmdEnd", "cmdOpen", "cmdHelp"};

// A scripted answer for a dialog that is closed with its OK button.
int CloseWithOk(QDialog& dialog)
{
    return test::ClickButton(dialog, "cmdOK");
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_config;
    std::string m_program;

    std::string Path(const std::string& relative) const
    {
        return m_dir->path().toStdString() + "/" + relative;
    }

    void WriteSettings(const QString& text)
    {
        test::WriteFile((m_config + "/Kivora/Velmor.conf").toStdString(), text.toStdString());
    }

    test::FakeVolumes* m_volumes = nullptr;

    std::unique_ptr<TfrmMain> MakeWindow(const std::vector<std::string>& arguments = {})
    {
        auto volumes = std::make_unique<test::FakeVolumes>();
        volumes->types["/"] = DriveType::Fixed;
        m_volumes = volumes.get();
        return std::make_unique<TfrmMain>(ParseCommandLine(arguments, m_program), m_program,
                                          CreateFileSystem(), std::move(volumes));
    }

    static bool Enabled(TfrmMain& window, const char* name)
    {
        return Find<QWidget>(window, name)->isEnabled();
    }

    // A copy-set file of count sets over fresh folders; each source holds files files.
    std::string MakeSets(int count, int files = 1)
    {
        std::vector<CopySet> sets;
        for (int i = 0; i < count; ++i) {
            std::string source = Path("src" + std::to_string(i));
            test::Tree tree;
            for (int f = 0; f < files; ++f) {
                tree["file" + std::to_string(f) + ".txt"] = std::to_string(f);
            }
            test::MakeTree(source, tree);
            sets.push_back({source, Path("dst" + std::to_string(i)), " ", ""});
        }
        std::string file = Path("sets.dat");
        test::WriteFile(file, FormatCopySets(sets));
        return file;
    }

    QStringList ShownTexts() const
    {
        QStringList texts;
        for (const Message& message : MessageBoxes::Shown()) {
            texts << QString::fromStdString(message.text);
        }
        return texts;
    }

    std::string WriteSets(const std::vector<CopySet>& sets, const std::string& name = "sets.dat")
    {
        std::string file = Path(name);
        test::WriteFile(file, FormatCopySets(sets));
        return file;
    }

    // Rows "a" to the given count, each with its own folders, last run and volume name.
    std::string LetterSets(int count)
    {
        std::vector<CopySet> sets;
        for (int i = 0; i < count; ++i) {
            std::string letter(1, static_cast<char>('a' + i));
            sets.push_back(
                {"/s/" + letter, "/t/" + letter, "0" + std::to_string(i) + "/01/01 00:00", "V" + letter});
        }
        return WriteSets(sets);
    }

    static CopySetListModel& Sets(QTreeView* list)
    {
        auto* sets = qobject_cast<CopySetListModel*>(list->model());
        if (!sets) {
            qFatal("the list shows no copy sets");
        }
        return *sets;
    }

    static int Rows(QTreeView* list) { return list->model()->rowCount(); }

    static QString Text(QTreeView* list, int row, int column)
    {
        return list->model()->index(row, column).data().toString();
    }

    static void Select(QTreeView* list, int row, bool selected)
    {
        list->selectionModel()->select(
            list->model()->index(row, 0),
            (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
                | QItemSelectionModel::Rows);
    }

    static bool IsSelected(QTreeView* list, int row)
    {
        return list->selectionModel()->isSelected(list->model()->index(row, 0));
    }

    // The whole row, all its columns.
    static QRect RowRect(QTreeView* list, int row)
    {
        QRect rect;
        for (int column = 0; column < list->model()->columnCount(); ++column) {
            rect |= list->visualRect(list->model()->index(row, column));
        }
        return rect;
    }

    static QStringList Column(QTreeView* list, int column)
    {
        QStringList texts;
        for (int i = 0; i < Rows(list); ++i) {
            texts << Text(list, i, column);
        }
        return texts;
    }

    static QList<int> SelectedRows(QTreeView* list)
    {
        QList<int> rows;
        for (int i = 0; i < Rows(list); ++i) {
            if (IsSelected(list, i)) {
                rows << i;
            }
        }
        return rows;
    }

    static void ClickRow(QTreeView* list, int row, Qt::KeyboardModifiers modifiers = {})
    {
        QRect rect = RowRect(list, row);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
    }

    static void ClickHeader(QTreeView* list, int column)
    {
        QHeaderView* header = list->header();
        QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                     header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, point);
    }

    static bool AllEnabled(TfrmMain& window, bool enabled)
    {
        for (const char* name : kSelectionButtons) {
            if (Enabled(window, name) != enabled) {
                return false;
            }
        }
        return true;
    }

    // Moves the interval with the spin control's keys, as the user would.
    static void StepInterval(TfrmMain& window, int steps)
    {
        QWidget* upDown = Find<QWidget>(window, "udInterval");
        for (int i = 0; i < std::abs(steps); ++i) {
            QTest::keyClick(upDown, steps > 0 ? Qt::Key_Up : Qt::Key_Down);
        }
    }

    static QTimer* AutoExec(TfrmMain& window) { return Find<QTimer>(window, "timAutoExec"); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_config = m_dir->path() + "/config";
        qputenv("XDG_CONFIG_HOME", m_config.toUtf8());
        // QSettings works out the user's folder once per process; each test gets its own.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config);
        qputenv("XDG_DATA_HOME", (m_dir->path() + "/data").toUtf8());
        m_program = Path("program");
        test::MakeTree(m_program, {});
        MessageBoxes::SetScripted(true);
        MessageBoxes::Reset();
        Dialogs::SetScripted(true);
        Dialogs::Reset();
    }

    void cleanup()
    {
        QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
        QCOMPARE(Dialogs::UnexpectedCount(), 0);
        QCOMPARE(MessageBoxes::PendingCount(), 0);
        QCOMPARE(Dialogs::PendingCount(), 0);
        m_dir.reset();
    }

    // Without a display every box is answered at once with the button Enter would press; a test's
    // script still comes first. A box that waited would hang this test.
    void headlessBoxesTakeTheirDefaultAtOnce()
    {
        const struct
        {
            MessageButtons buttons;
            bool defaultNo;
            MessageAnswer answer;
        } cases[] = {
            {MessageButtons::Ok, false, MessageAnswer::Ok},
            {MessageButtons::OkCancel, false, MessageAnswer::Ok},
            {MessageButtons::YesNo, false, MessageAnswer::Yes},
            {MessageButtons::YesNo, true, MessageAnswer::No},
        };
        MessageBoxes::SetScripted(false);
        MessageBoxes::SetHeadless(true);
        for (const auto& c : cases) {
            QCOMPARE(MessageBoxes::Show(nullptr, {"質問？", MessageIcon::Question, c.buttons, c.defaultNo}),
                     c.answer);
        }
        MessageBoxes::SetScripted(true);
        MessageBoxes::PushAnswer(MessageAnswer::Yes);
        QCOMPARE(MessageBoxes::Show(nullptr, {"質問？", MessageIcon::Question, MessageButtons::YesNo, true}),
                 MessageAnswer::Yes);
        MessageBoxes::SetHeadless(false);
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void startsEmptyWithTheDefaults()
    {
        auto window = MakeWindow();
        QCOMPARE(Find<QLabel>(*window, "lblCopysetFileName")->text(),
                 QString::fromStdString(m_program + "/velmor.dat"));
        QCOMPARE(Rows(Find<QTreeView>(*window, "lvwCopySet")), 0);
        // The icon of the desktop entry, built into the program.
        QCOMPARE(window->windowIcon().availableSizes(), (QList<QSize>{QSize(48, 48), QSize(256, 256)}));
        QVERIFY(!Enabled(*window, "cmdExeCopyAll"));
        for (const char* name : kSelectionButtons) {
            QVERIFY2(!Enabled(*window, name), name);
        }
        for (const char* name :
             {"chkDelete", "chkTrash", "chkSubFolder", "chkLink", "chkSystemFile", "chkLogOnly"}) {
            QVERIFY2(!Find<QCheckBox>(*window, name)->isChecked(), name);
        }
        QVERIFY(!Enabled(*window, "chkTrash"));
        QCOMPARE(Find<QLineEdit>(*window, "txtInterval")->text(), QString("0"));
        QVERIFY(!Enabled(*window, "cmdSetInterval"));
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        // The last-run column is wider where the font needs it for a whole stamp.
        QCOMPARE(QList<int>({list->columnWidth(0), list->columnWidth(1), list->columnWidth(3)}),
                 QList<int>({220, 220, 130}));
        QVERIFY(list->columnWidth(2) >= 93);
        QCOMPARE(window->size(), QSize(681, 487));
        QVERIFY(!window->IsUnattended());
        QVERIFY(MessageBoxes::Shown().empty());
        // On first use the list file is created when the program ends.
        window->FormDestroy();
        QCOMPARE(QString::fromStdString(test::ReadFile(m_program + "/velmor.dat")), QString());
        QVERIFY(QFile::exists(QString::fromStdString(m_program + "/velmor.dat")));
    }

    void restoresTheSettings_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("deleteChecked");
        QTest::addColumn<bool>("trashChecked");
        QTest::addColumn<bool>("trashEnabled");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<bool>("setEnabled");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("column0");

        QTest::newRow("-1 checks") << "[Setting]\nchkDelete=-1\nchkTrash=-1\n"
                                   << true << true << true << "0" << false << QSize(681, 487) << 220;
        QTest::newRow("1 does not") << "[Setting]\nchkDelete=1\nchkTrash=-1\n"
                                    << false << true << false << "0" << false << QSize(681, 487) << 220;
        QTest::newRow("garbage") << "[Setting]\nchkDelete=abc\nAutoInterval=x1\n"
                                 << false << false << false << "0" << false << QSize(681, 487) << 220;
        QTest::newRow("interval 15") << "[Setting]\nAutoInterval=15\n"
                                     << false << false << false << "15" << true << QSize(681, 487) << 220;
        QTest::newRow("Left without Width")
            << "[Startup]\nLeft=5\nTop=6\nHeight=450\nColWidth0=300\n"
            << false << false << false << "0" << false << QSize(681, 487) << 300;
        QTest::newRow("geometry") << "[Startup]\nLeft=5\nTop=6\nWidth=800\nHeight=450\n"
                                  << false << false << false << "0" << false << QSize(800, 450) << 220;
    }

    void restoresTheSettings()
    {
        QFETCH(QString, settings);
        WriteSettings(settings);
        auto window = MakeWindow();
        QTEST(Find<QCheckBox>(*window, "chkDelete")->isChecked(), "deleteChecked");
        QTEST(Find<QCheckBox>(*window, "chkTrash")->isChecked(), "trashChecked");
        QTEST(Enabled(*window, "chkTrash"), "trashEnabled");
        QTEST(Find<QLineEdit>(*window, "txtInterval")->text(), "interval");
        QTEST(Enabled(*window, "cmdSetInterval"), "setEnabled");
        QTEST(window->size(), "size");
        QTEST(Find<QTreeView>(*window, "lvwCopySet")->columnWidth(0), "column0");
    }

    void readsTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("unattended");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("/A") << QStringList{"SETS", "/A"} << true << QStringList{};
        QTest::newRow("/a") << QStringList{"SETS", "/a"} << true << QStringList{};
        QTest::newRow("/X") << QStringList{"SETS", "/X"} << false << QStringList{};
        QTest::newRow("one") << QStringList{"SETS"} << false << QStringList{};
        QTest::newRow("missing with /A")
            << QStringList{"MISSING", "/A"} << false << QStringList{"'MISSING' が見つかりません！"};
        QTest::newRow("three") << QStringList{"SETS", "/A", "x"} << false
                               << QStringList{"'' が見つかりません！"};
    }

    void readsTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, messages);
        std::string sets = MakeSets(1);
        std::vector<std::string> args;
        for (QString argument : arguments) {
            argument.replace("SETS", QString::fromStdString(sets));
            argument.replace("MISSING", QString::fromStdString(Path("missing.dat")));
            args.push_back(argument.toStdString());
        }
        for (QString& message : messages) {
            message.replace("MISSING", QString::fromStdString(Path("missing.dat")));
            MessageBoxes::PushAnswer(MessageAnswer::Ok);
        }
        auto window = MakeWindow(args);
        QTEST(window->IsUnattended(), "unattended");
        QCOMPARE(ShownTexts(), messages);
        for (const Message& message : MessageBoxes::Shown()) {
            QCOMPARE(message.icon, MessageIcon::Exclamation);
        }
        // With three arguments there is no file to save to, and nothing complains about it.
        window->FormDestroy();
        QCOMPARE(ShownTexts(), messages);
    }

    void keepsAFileThatCouldNotBeReadWhole()
    {
        // Reading this file fails at once; the empty list must never be saved over it.
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        auto window = MakeWindow({"/proc/self/mem"});
        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(1));
        QCOMPARE(MessageBoxes::Shown()[0].icon, MessageIcon::Error);
        window->FormDestroy();
        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(1));
    }

    void selectionDrivesTheCommands()
    {
        auto window = MakeWindow({MakeSets(3)});
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        QVERIFY(Enabled(*window, "cmdExeCopyAll"));
        Select(list, 1, true);
        for (const char* name : kSelectionButtons) {
            QVERIFY2(Enabled(*window, name), name);
        }
        window->ToggleCmdEnbl(false);
        for (const char* name : kSelectionButtons) {
            QVERIFY2(!Enabled(*window, name), name);
        }
        for (const char* name : kAlwaysOnButtons) {
            QVERIFY2(!Enabled(*window, name), name);
        }
        QVERIFY(!Enabled(*window, "cmdExeCopyAll"));
        QVERIFY(Enabled(*window, "chkDelete"));
        window->ToggleCmdEnbl(true);
        for (const char* name : kSelectionButtons) {
            QVERIFY2(Enabled(*window, name), name);
        }
        for (const char* name : kAlwaysOnButtons) {
            QVERIFY2(Enabled(*window, name), name);
        }
        list->clearSelection();
        for (const char* name : kSelectionButtons) {
            QVERIFY2(!Enabled(*window, name), name);
        }
    }

    void runsTheSelectedSetFromTheWindow()
    {
        auto window = MakeWindow({MakeSets(2)});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        Select(list, 1, true);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopy"), Qt::LeftButton);

        QCOMPARE(ShownTexts(),
                 QStringList{QString::fromStdString("'" + Path("src1") + "' から '" + Path("dst1")
                                                    + "' へのコピーを開始します！")});
        QCOMPARE(Dialogs::Shown(), QStringList{"実行結果"});
        QCOMPARE(test::ReadTree(Path("dst1")), test::ReadTree(Path("src1")));
        QVERIFY(test::ReadTree(Path("dst0")).empty());
        QVERIFY(
            QRegularExpression("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d$").match(Text(list, 1, 2)).hasMatch());
        QCOMPARE(Text(list, 0, 2), QString(" "));
        QVERIFY(!window->Progress()->isVisible());
        QVERIFY(Enabled(*window, "cmdExeCopy"));
        QVERIFY(Enabled(*window, "cmdEnd"));
        QCOMPARE(Find<QLabel>(*window, "sbrStatusPanel1")->text(), QString());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void abortButtonStopsTheRun()
    {
        auto window = MakeWindow({MakeSets(1, 3000)});
        window->show();
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        QTimer::singleShot(0, window.get(), [&] {
            QTest::mouseClick(window->Progress()->findChild<QPushButton*>("cmdAbort"), Qt::LeftButton);
        });
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopyAll"), Qt::LeftButton);
        QCOMPARE(ShownTexts().last(), QString("コピーを中止しました！"));
        QVERIFY(Dialogs::Shown().isEmpty());
        QVERIFY(test::ReadTree(Path("dst0")).size() < 3000);
        QCOMPARE(Text(Find<QTreeView>(*window, "lvwCopySet"), 0, 2), QString(" "));
    }

    void closingDuringARunAbortsItFirst()
    {
        auto window = MakeWindow({MakeSets(1, 3000)});
        window->show();
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        QTimer::singleShot(0, window.get(), [&] { window->close(); });
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopyAll"), Qt::LeftButton);
        QVERIFY(window->isVisible()); // still there when the run returned
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(ShownTexts().last(), QString("コピーを中止しました！"));
        QVERIFY(!window->Driver().IsRunning());
        QSettings settings(m_config + "/Kivora/Velmor.conf", QSettings::IniFormat);
        QCOMPARE(settings.value("Startup/Width").toString(),
                 QString::number(window->frameGeometry().width()));
    }

    void theListStaysInOrderDuringARun()
    {
        test::MakeTree(Path("b"), {{"one", "1"}, {"two", "2"}});
        std::vector<CopySet> sets = {{Path("b"), Path("x"), " ", ""}, {Path("a"), Path("y"), " ", ""}};
        test::WriteFile(Path("order.dat"), FormatCopySets(sets));
        auto window = MakeWindow({Path("order.dat")});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        Select(list, 0, true);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        // Sorting by source and moving rows while the set is run must not reorder the list.
        QTimer::singleShot(0, window.get(), [&] {
            emit list->header()->sectionClicked(0);
            QTest::mouseClick(Find<QPushButton>(*window, "cmdDown"), Qt::LeftButton);
        });
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopy"), Qt::LeftButton);
        QCOMPARE(Dialogs::Shown(), QStringList{"実行結果"});
        QCOMPARE(Text(list, 0, 0), QString::fromStdString(Path("b")));
        // Idle, the same click sorts.
        emit list->header()->sectionClicked(0);
        QCOMPARE(Text(list, 0, 0), QString::fromStdString(Path("a")));
    }

    void writesTheSettingsWhenClosed()
    {
        auto window = MakeWindow();
        window->show();
        Find<QCheckBox>(*window, "chkDelete")->setChecked(true);
        Find<QCheckBox>(*window, "chkLogOnly")->setChecked(true);
        window->close();
        QSettings settings(m_config + "/Kivora/Velmor.conf", QSettings::IniFormat);
        QCOMPARE(settings.value("Setting/chkDelete").toString(), QString("-1"));
        QCOMPARE(settings.value("Setting/chkLogOnly").toString(), QString("-1"));
        QCOMPARE(settings.value("Setting/chkTrash").toString(), QString("0"));
        QCOMPARE(settings.value("Setting/AutoInterval").toString(), QString("0"));
        QCOMPARE(settings.value("Startup/ColWidth2").toString(),
                 QString::number(Find<QTreeView>(*window, "lvwCopySet")->columnWidth(2)));
        QCOMPARE(settings.value("Startup/Width").toString(),
                 QString::number(window->frameGeometry().width()));
    }

    // The stored place and size are the frame's, also when a box comes first at start-up, and a
    // place off every screen comes back onto one.
    void theStoredPlaceIsTheFrames_data()
    {
        QTest::addColumn<QPoint>("stored");
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<bool>("kept");
        QTest::newRow("on screen") << QPoint(100, 60) << false << true;
        QTest::newRow("after a start-up box") << QPoint(100, 60) << true << true;
        QTest::newRow("left of every screen") << QPoint(-3000, 60) << false << false;
        QTest::newRow("title bar above the screen") << QPoint(40, -200) << true << false;
        QTest::newRow("far below and right") << QPoint(9000, 9000) << false << false;
    }

    void theStoredPlaceIsTheFrames()
    {
        QFETCH(QPoint, stored);
        QFETCH(bool, missingFile);
        QFETCH(bool, kept);
        const QRect outer(stored, QSize(690, 420));
        WriteSettings(QString("[Startup]\nLeft=%1\nTop=%2\nWidth=%3\nHeight=%4\n")
                          .arg(outer.x())
                          .arg(outer.y())
                          .arg(outer.width())
                          .arg(outer.height()));
        if (missingFile) {
            MessageBoxes::PushAnswer(MessageAnswer::Ok);
        }
        auto window =
            MakeWindow(missingFile ? std::vector<std::string>{Path("gone.dat")} : std::vector<std::string>{});
        // A box before the window is on screen has no owner: it is centred on the screen, and
        // the window is not made before it has its place.
        QCOMPARE(MessageBoxes::ShownOwned(), std::vector<bool>(missingFile ? 1 : 0, false));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(window->frameGeometry() != window->geometry()); // the test platform draws a frame
        QTRY_COMPARE(window->frameGeometry().size(), outer.size());
        const QRect screen = window->screen()->availableGeometry();
        if (kept) {
            QCOMPARE(window->frameGeometry(), outer);
        } else {
            QVERIFY(screen.contains(window->frameGeometry()));
        }
        const QRect shown = window->frameGeometry();
        window->close();
        QSettings settings(m_config + "/Kivora/Velmor.conf", QSettings::IniFormat);
        QCOMPARE(QRect(settings.value("Startup/Left").toInt(), settings.value("Startup/Top").toInt(),
                       settings.value("Startup/Width").toInt(), settings.value("Startup/Height").toInt()),
                 shown);
    }

    // Enter presses a focused button and runs the selected copy sets from anywhere else.
    void enterRunsTheSelectedSets_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("pressed");
        QTest::newRow("list") << "lvwCopySet" << true << "cmdExeCopy";
        QTest::newRow("check box") << "chkLink" << true << "cmdExeCopy";
        QTest::newRow("interval box") << "txtInterval" << true << "cmdExeCopy";
        QTest::newRow("spin control") << "udInterval" << true << "cmdExeCopy";
        QTest::newRow("a button") << "cmdUp" << true << "cmdUp";
        QTest::newRow("the run button") << "cmdExeCopy" << true << "cmdExeCopy";
        QTest::newRow("nothing selected") << "lvwCopySet" << false << "";
    }

    void enterRunsTheSelectedSets()
    {
        QFETCH(QString, focus);
        QFETCH(bool, selected);
        QFETCH(QString, pressed);
        auto window = MakeWindow({MakeSets(2)});
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        Select(Find<QTreeView>(*window, "lvwCopySet"), 1, selected);
        QMap<QString, int> clicks;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            connect(button, &QPushButton::clicked, window.get(),
                    [&clicks, button] { ++clicks[button->objectName()]; });
        }
        if (pressed == "cmdExeCopy") {
            MessageBoxes::PushAnswer(MessageAnswer::Cancel); // the run's confirmation
        }
        QWidget* target = Find<QWidget>(*window, focus.toUtf8().constData());
        target->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), target);
        QTest::keyClick(target, Qt::Key_Return);
        QMap<QString, int> expected;
        if (!pressed.isEmpty()) {
            expected[pressed] = 1;
        }
        QCOMPARE(clicks, expected);
        if (pressed == "cmdUp") {
            QCOMPARE(SelectedRows(Find<QTreeView>(*window, "lvwCopySet")), QList<int>{0});
        }
    }

    // A copy log that is a FIFO or a folder is a log that can't be read or written: the log
    // window opens empty and a run stops, neither waits for ever.
    void aLogThatIsNoPlainFileNeverHolds_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("FIFO") << true;
        QTest::newRow("folder") << false;
    }

    void aLogThatIsNoPlainFileNeverHolds()
    {
        QFETCH(bool, fifo);
        const std::string log = m_program + "/velmor.log";
        if (fifo) {
            QCOMPARE(::mkfifo(log.c_str(), 0644), 0);
        } else {
            test::MakeTree(log, {});
        }
        auto window = MakeWindow({MakeSets(1)});
        window->show();
        QString shown = "unread";
        Dialogs::PushDialog([&](QDialog& dialog) {
            shown = dialog.findChild<QPlainTextEdit*>("redtCopyResult")->toPlainText();
            return CloseWithOk(dialog);
        });
        QTest::mouseClick(Find<QPushButton>(*window, "cmdShowLog"), Qt::LeftButton);
        QCOMPARE(shown, QString());

        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopyAll"), Qt::LeftButton);
        QCOMPARE(window->Driver().LastOutcome(), RunOutcome::Stopped);
        QVERIFY(window->Driver().Report().front().find("コピーログに書き込めません") != std::string::npos);
        struct stat info
        {
        };
        QCOMPARE(::lstat(log.c_str(), &info), 0);
        QCOMPARE(S_ISFIFO(info.st_mode), fifo);
    }

    // The spin control shows when it has the keyboard.
    void theSpinControlShowsItsFocus()
    {
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QWidget* upDown = Find<QWidget>(*window, "udInterval");
        Find<QWidget>(*window, "cmdOpen")->setFocus(Qt::TabFocusReason);
        const QImage without = upDown->grab().toImage();
        upDown->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(upDown->hasFocus());
        QVERIFY(upDown->grab().toImage() != without);
    }

    // The arrow keys in the interval's box step the spin control, as a change by the user.
    void arrowKeysInTheIntervalBoxStepIt()
    {
        auto window = MakeWindow();
        QLineEdit* box = Find<QLineEdit>(*window, "txtInterval");
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(box, Qt::Key_Up);
        }
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(box->text(), QString("2"));
        QVERIFY(Enabled(*window, "cmdSetInterval"));
    }

    // A file read only in part is never saved over; when the list was changed, the user is told
    // so at the end and may save it under another name.
    void editsOfAPartlyReadListCanBeSavedElsewhere_data()
    {
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QList<int>>("answers"); // 1 Yes, 0 No, in the order asked
        QTest::addColumn<QStringList>("saveAs"); // the save dialog's answers; "" cancels
        QTest::addColumn<bool>("saved");
        QTest::newRow("no edits, no question") << false << QList<int>{} << QStringList{} << false;
        QTest::newRow("saved under another name")
            << true << QList<int>{1} << QStringList{"saved.dat"} << true;
        QTest::newRow("declined") << true << QList<int>{0} << QStringList{} << false;
        QTest::newRow("dialog cancelled, asked again")
            << true << QList<int>{1, 1} << QStringList{"", "saved.dat"} << true;
    }

    void editsOfAPartlyReadListCanBeSavedElsewhere()
    {
        QFETCH(bool, edit);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, saveAs);
        QFETCH(bool, saved);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        auto window = MakeWindow({"/proc/self/mem"});
        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(1));
        QVERIFY(
            QString::fromStdString(MessageBoxes::Shown()[0].text).contains("このファイルには保存されません"));
        window->show();
        if (edit) {
            test::MakeTree(Path("src"), {});
            Dialogs::PushDialog([&](QDialog& dialog) {
                test::SelectFolder(dialog, "dirSource", QString::fromStdString(Path("src")));
                test::SelectFolder(dialog, "dirTarget", QString::fromStdString(Path("src")));
                return test::ClickButton(dialog, "cmdOK");
            });
            QTest::mouseClick(Find<QPushButton>(*window, "cmdAddSet"), Qt::LeftButton);
            QCOMPARE(window->CopySets().Count(), 1);
        }
        MessageBoxes::Reset();
        for (int answer : answers) {
            MessageBoxes::PushAnswer(answer == 1 ? MessageAnswer::Yes : MessageAnswer::No);
        }
        for (const QString& name : saveAs) {
            Dialogs::PushSaveFile(name.isEmpty() ? std::nullopt
                                                 : std::optional<QString>(m_dir->path() + "/" + name));
        }
        window->FormDestroy();
        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(answers.size()));
        for (const Message& message : MessageBoxes::Shown()) {
            QCOMPARE(message.icon, MessageIcon::Question);
            QVERIFY(QString::fromStdString(message.text).contains("/proc/self/mem"));
        }
        QCOMPARE(Dialogs::SaveRequests().size(), std::size_t(saveAs.size()));
        QCOMPARE(QFileInfo::exists(m_dir->path() + "/saved.dat"), saved);
        if (saved) {
            QCOMPARE(test::ReadFile(Path("saved.dat")), Path("src") + "\t" + Path("src") + "\t \t\r\n");
        }
    }

    // Opening another file after a partly read one offers the same.
    void openAfterAPartlyReadListOffersToSaveTheEdits()
    {
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        auto window = MakeWindow({"/proc/self/mem"});
        window->show();
        test::MakeTree(Path("src"), {});
        Dialogs::PushDialog([&](QDialog& dialog) {
            test::SelectFolder(dialog, "dirSource", QString::fromStdString(Path("src")));
            test::SelectFolder(dialog, "dirTarget", QString::fromStdString(Path("src")));
            return test::ClickButton(dialog, "cmdOK");
        });
        QTest::mouseClick(Find<QPushButton>(*window, "cmdAddSet"), Qt::LeftButton);
        Dialogs::PushOpenFile(QString::fromStdString(Path("other.dat")));
        MessageBoxes::PushAnswer(MessageAnswer::Yes);
        Dialogs::PushSaveFile(QString::fromStdString(Path("saved.dat")));
        QTest::mouseClick(Find<QPushButton>(*window, "cmdOpen"), Qt::LeftButton);
        QCOMPARE(window->CopysetFileName(), Path("other.dat"));
        QCOMPARE(window->CopySets().Count(), 0);
        QVERIFY(QFileInfo::exists(m_dir->path() + "/saved.dat"));
        // The new file is saved as usual; nothing is asked at the end.
        MessageBoxes::Reset();
        window->FormDestroy();
        QVERIFY(MessageBoxes::Shown().empty());
        QVERIFY(QFileInfo::exists(m_dir->path() + "/other.dat"));
    }

    // The three run options of each row stand in three columns.
    void theRunOptionsLineUpInThreeColumns()
    {
        auto window = MakeWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto left = [&](const char* name) {
            QWidget* box = Find<QWidget>(*window, name);
            return box->mapTo(window.get(), QPoint(0, 0)).x();
        };
        QCOMPARE(left("chkLink"), left("chkSubFolder"));
        QCOMPARE(left("chkLogOnly"), left("chkSystemFile"));
        QVERIFY(left("chkTrash") > left("chkDelete"));
        QVERIFY(left("chkSubFolder")
                > left("chkTrash") + Find<QWidget>(*window, "chkTrash")->sizeHint().width());
    }

    // A whole stamp fits the last-run column at its default width, and a long copy-set file name
    // gives way in the middle instead of widening the window.
    void defaultWidthsShowWholeTexts()
    {
        const std::string folder = Path(std::string(120, 'f'));
        test::MakeTree(folder, {{"sets.dat", ""}});
        auto window = MakeWindow({folder + "/sets.dat"});
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        Sets(list).Append({"/a", "/b", "02/05/17 14:03", ""});
        const int needed = static_cast<QAbstractItemView*>(list)->sizeHintForColumn(2);
        QVERIFY2(list->columnWidth(2) >= needed,
                 qPrintable(QString("%1 < %2").arg(list->columnWidth(2)).arg(needed)));

        auto* name = Find<PathLabel>(*window, "lblCopysetFileName");
        const QString path = QString::fromStdString(folder + "/sets.dat");
        QCOMPARE(name->text(), path);
        QCOMPARE(name->toolTip(), path);
        QVERIFY(name->ShownText().contains(QChar(0x2026)));
        QVERIFY(name->ShownText().startsWith(path.left(3)));
        QVERIFY(name->ShownText().endsWith("sets.dat"));
        QVERIFY2(name->fontMetrics().horizontalAdvance(name->ShownText()) <= name->contentsRect().width(),
                 qPrintable(QString("%1 > %2")
                                .arg(name->fontMetrics().horizontalAdvance(name->ShownText()))
                                .arg(name->contentsRect().width())));
        QVERIFY(window->minimumSizeHint().width() <= 681);
    }

    // Sorting orders letters as a Japanese or English user expects, whatever the collation of
    // the session: small before capital, accents after the plain letter.
    void sortingOrdersLettersAsPeopleRead()
    {
        const std::string previous = std::setlocale(LC_COLLATE, nullptr);
        std::setlocale(LC_COLLATE, "C");
        QLocale::setDefault(QLocale::c());
        auto window = MakeWindow({WriteSets({{"b", "", " ", ""},
                                             {"B", "", " ", ""},
                                             {"\xC3\xA4", "", " ", ""},
                                             {"A", "", " ", ""},
                                             {"a", "", " ", ""}})});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        ClickHeader(list, 0);
        std::setlocale(LC_COLLATE, previous.c_str());
        QLocale::setDefault(QLocale::system());
        QCOMPARE(Column(list, 0), QStringList({"a", "A", QString::fromUtf8("\xC3\xA4"), "b", "B"}));
    }

    // The progress window takes the keyboard when it shows: Escape aborts without a click first.
    void theProgressWindowTakesTheKeyboard()
    {
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        TfrmProgress* progress = window->Progress();
        QSignalSpy aborted(progress, &TfrmProgress::abortRequested);
        window->ShowProgress();
        QTRY_VERIFY(progress->isActiveWindow());
        QWidget* keyboard =
            QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
        QTest::keyClick(keyboard, Qt::Key_Escape);
        QCOMPARE(aborted.count(), 1);
        QVERIFY(!progress->isVisible());
        QTRY_VERIFY(window->isActiveWindow());
    }

    // Status panel 0 shortens a path as the progress labels do: the drive part stays.
    void theStatusBarKeepsTheDrivePart()
    {
        // The drive is the temporary folder's first folder, so that the shortest form fits the
        // panel however long the temporary folder's path is.
        const std::string stick = Path("stick");
        const std::string drive = stick.substr(0, stick.find('/', 1));
        std::string deep = stick;
        for (int i = 0; i < 20; ++i) {
            deep += "/folder_" + std::to_string(i);
        }
        test::Tree files;
        for (int i = 0; i < 300; ++i) {
            files["file" + std::to_string(i) + ".txt"] = std::string(2000, 'x');
        }
        test::MakeTree(deep, files);
        auto window = MakeWindow({WriteSets({{stick, Path("copy"), " ", ""}})});
        m_volumes->driveParts[drive] = drive;
        m_volumes->types[drive] = DriveType::Fixed;
        m_volumes->ready[drive] = true;
        window->show();
        QLabel* panel = Find<QLabel>(*window, "sbrStatusPanel0");
        const QString shortest = QString::fromStdString(drive + "/.../file100.txt");
        if (panel->fontMetrics().horizontalAdvance(shortest) > panel->width()) {
            QSKIP("the temporary folder's path is too long for the status bar");
        }
        QStringList texts;
        QTimer watch;
        connect(&watch, &QTimer::timeout, window.get(), [&] { texts << panel->text(); });
        watch.start(0);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopyAll"), Qt::LeftButton);
        watch.stop();
        QVERIFY(QFileInfo::exists(
            QString::fromStdString(Path("copy") + deep.substr(stick.size()) + "/file1.txt")));
        const QStringList shortened = texts.filter("/.../");
        QVERIFY2(!shortened.isEmpty(), qPrintable(texts.join('|')));
        for (const QString& text : shortened) {
            QVERIFY2(text.startsWith(QString::fromStdString(drive + "/")), qPrintable(text));
        }
    }

    void theSelectionButtonsFollowTheList()
    {
        auto window = MakeWindow({LetterSets(3)});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        QVERIFY(AllEnabled(*window, false));
        QVERIFY(Enabled(*window, "cmdExeCopyAll"));

        ClickRow(list, 1);
        QVERIFY(AllEnabled(*window, true));
        ClickRow(list, 2, Qt::ControlModifier);
        QCOMPARE(SelectedRows(list), QList<int>({1, 2}));
        QVERIFY(AllEnabled(*window, true));

        // A click on the empty part of the list selects nothing.
        QRect last = RowRect(list, 2);
        QVERIFY(last.bottom() + 20 < list->viewport()->height());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(last.center().x(), last.bottom() + 20));
        QVERIFY(SelectedRows(list).isEmpty());
        QVERIFY(AllEnabled(*window, false));
        QVERIFY(Enabled(*window, "cmdExeCopyAll"));
    }

    void addingASetAppendsItUnselected_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }

    void addingASetAppendsItUnselected()
    {
        QFETCH(bool, ok);
        test::MakeTree(Path("src"), {{"f", "1"}});
        test::MakeTree(Path("backup/dst"), {});
        auto window = MakeWindow();
        m_volumes->labels[Path("backup")] = "BACKUP";
        window->show();
        QString caption;
        Dialogs::PushDialog([&](QDialog& dialog) {
            caption = dialog.windowTitle();
            if (!test::SelectFolder(dialog, "dirSource", QString::fromStdString(Path("src")))
                || !test::SelectFolder(dialog, "dirTarget", QString::fromStdString(Path("backup/dst")))) {
                return -1;
            }
            return test::ClickButton(dialog, ok ? "cmdOK" : "cmdCancel");
        });
        QTest::mouseClick(Find<QPushButton>(*window, "cmdAddSet"), Qt::LeftButton);
        QCOMPARE(caption, QString("コピーセットの追加"));

        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        QCOMPARE(Rows(list), ok ? 1 : 0);
        QCOMPARE(Enabled(*window, "cmdExeCopyAll"), ok);
        QVERIFY(AllEnabled(*window, false));
        if (ok) {
            QCOMPARE(window->CopySets().At(0), (CopySet{Path("src"), Path("backup/dst"), " ", "BACKUP"}));
            QVERIFY(!IsSelected(list, 0));
            window->FormDestroy();
            QCOMPARE(test::ReadFile(m_program + "/velmor.dat"),
                     Path("src") + "\t" + Path("backup/dst") + "\t \tBACKUP\r\n");
        }
    }

    void editingReplacesTheFoldersAndKeepsTheLastRun_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("button") << false;
        QTest::newRow("double click") << true;
    }

    void editingReplacesTheFoldersAndKeepsTheLastRun()
    {
        QFETCH(bool, doubleClick);
        for (const char* folder : {"old0", "old1", "t1", "new", "usb/dst"}) {
            test::MakeTree(Path(folder), {});
        }
        auto window = MakeWindow({WriteSets(
            {{Path("old0"), Path("t0"), " ", ""}, {Path("old1"), Path("t1"), "24/05/06 07:08", "OLD"}})});
        m_volumes->labels[Path("usb")] = "STICK";
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        ClickRow(list, 1);
        QString caption;
        Dialogs::PushDialog([&](QDialog& dialog) {
            caption = dialog.windowTitle();
            test::SelectFolder(dialog, "dirSource", QString::fromStdString(Path("new")));
            test::SelectFolder(dialog, "dirTarget", QString::fromStdString(Path("usb/dst")));
            return test::ClickButton(dialog, "cmdOK");
        });
        if (doubleClick) {
            QRect rect = RowRect(list, 1);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        } else {
            QTest::mouseClick(Find<QPushButton>(*window, "cmdEditSet"), Qt::LeftButton);
        }
        QCOMPARE(Dialogs::Shown(), QStringList{"コピーセットの編集"});
        QCOMPARE(caption, QString("コピーセットの編集"));
        QVERIFY(MessageBoxes::Shown().empty());
        QCOMPARE(window->CopySets().At(1),
                 (CopySet{Path("new"), Path("usb/dst"), "24/05/06 07:08", "STICK"}));
        QCOMPARE(window->CopySets().At(0), (CopySet{Path("old0"), Path("t0"), " ", ""}));
    }

    void deletingAsksAndRemovesOneRow_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QList<int>>("selectedAfter");

        QTest::newRow("rows 2 and 4, yes") << 5 << QList<int>{1, 3} << MessageAnswer::Yes
                                           << QStringList{"/s/a", "/s/c", "/s/d", "/s/e"} << QList<int>{2};
        QTest::newRow("rows 2 and 4, no")
            << 5 << QList<int>{1, 3} << MessageAnswer::No
            << QStringList{"/s/a", "/s/b", "/s/c", "/s/d", "/s/e"} << QList<int>{1, 3};
        QTest::newRow("the last set")
            << 1 << QList<int>{0} << MessageAnswer::Yes << QStringList{} << QList<int>{};
    }

    void deletingAsksAndRemovesOneRow()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, selected);
        QFETCH(MessageAnswer, answer);
        QFETCH(QStringList, sources);
        QFETCH(QList<int>, selectedAfter);
        auto window = MakeWindow({LetterSets(count)});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        for (int row : selected) {
            ClickRow(list, row, Qt::ControlModifier);
        }
        MessageBoxes::PushAnswer(answer);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdDeleteSet"), Qt::LeftButton);

        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(1));
        const Message& question = MessageBoxes::Shown()[0];
        std::string letter(1, static_cast<char>('a' + selected.first()));
        QCOMPARE(QString::fromStdString(question.text),
                 QString::fromStdString("'/s/" + letter + "' から '/t/" + letter
                                        + "' へのコピーセットを削除していいですか？"));
        QCOMPARE(question.icon, MessageIcon::Question);
        QCOMPARE(question.buttons, MessageButtons::YesNo);
        QCOMPARE(MessageBoxes::BeepCount(), 1);
        QCOMPARE(Column(list, 0), sources);
        QCOMPARE(SelectedRows(list), selectedAfter);
        QVERIFY(AllEnabled(*window, !selectedAfter.isEmpty()));
        QCOMPARE(Enabled(*window, "cmdExeCopyAll"), !sources.isEmpty());
    }

    void movingUpAndDown_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<int>("beeps");

        const QStringList unchanged{"/s/a", "/s/b", "/s/c", "/s/d", "/s/e"};
        QTest::newRow("up on the first row") << QList<int>{0} << "cmdUp" << unchanged << QList<int>{0} << 1;
        QTest::newRow("down on the last row")
            << QList<int>{4} << "cmdDown" << unchanged << QList<int>{4} << 1;
        QTest::newRow("up with rows 2 and 4")
            << QList<int>{1, 3} << "cmdUp" << QStringList{"/s/b", "/s/a", "/s/c", "/s/d", "/s/e"}
            << QList<int>{0, 3} << 0;
        QTest::newRow("down with rows 2 and 4")
            << QList<int>{1, 3} << "cmdDown" << QStringList{"/s/a", "/s/c", "/s/b", "/s/d", "/s/e"}
            << QList<int>{2, 3} << 0;
        QTest::newRow("down to the last row")
            << QList<int>{3} << "cmdDown" << QStringList{"/s/a", "/s/b", "/s/c", "/s/e", "/s/d"}
            << QList<int>{4} << 0;
    }

    void movingUpAndDown()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QString, button);
        QFETCH(QStringList, sources);
        QFETCH(QList<int>, selectedAfter);
        QFETCH(int, beeps);
        auto window = MakeWindow({LetterSets(5)});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        for (int row : selected) {
            ClickRow(list, row, Qt::ControlModifier);
        }
        QTest::mouseClick(Find<QPushButton>(*window, button.toUtf8().constData()), Qt::LeftButton);
        QCOMPARE(Column(list, 0), sources);
        QCOMPARE(SelectedRows(list), selectedAfter);
        QCOMPARE(MessageBoxes::BeepCount(), beeps);
        // The keyboard stays on the row it was on.
        QCOMPARE(list->currentIndex().row(), selected.last());
        // All four fields travel with the copy set.
        for (int i = 0; i < Rows(list); ++i) {
            std::string letter = Text(list, i, 0).mid(3).toStdString();
            CopySet row = window->CopySets().At(i);
            QCOMPARE(row.target, "/t/" + letter);
            QCOMPARE(row.volumeName, "V" + letter);
            QCOMPARE(row.lastRun, "0" + std::to_string(letter[0] - 'a') + "/01/01 00:00");
        }
    }

    void sortingByAColumnHeader()
    {
        auto window = MakeWindow({WriteSets({{"/s/b", "/t/2", "24/03/01 10:00", "b"},
                                             {"/s/c", "/t/3", " ", "A"},
                                             {"/s/a", "/t/1", "23/12/31 23:59", "a"}})});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        ClickRow(list, 1);
        ClickHeader(list, 1);
        QCOMPARE(Column(list, 1), QStringList({"/t/1", "/t/2", "/t/3"}));
        ClickHeader(list, 1);
        QCOMPARE(Column(list, 1), QStringList({"/t/3", "/t/2", "/t/1"}));
        // Each column keeps its own direction: the first click on another column sorts ascending.
        ClickHeader(list, 0);
        QCOMPARE(Column(list, 0), QStringList({"/s/a", "/s/b", "/s/c"}));
        // The selection stays with its copy set.
        QCOMPARE(SelectedRows(list), QList<int>{2});
        // A set never run sorts before every date.
        ClickHeader(list, 2);
        QCOMPARE(Column(list, 2), QStringList({" ", "23/12/31 23:59", "24/03/01 10:00"}));
        // Case counts: "a" and "A" are not equal, so the two directions give opposite orders.
        ClickHeader(list, 3);
        QStringList ascending = Column(list, 3);
        ClickHeader(list, 3);
        QStringList descending = Column(list, 3);
        std::reverse(descending.begin(), descending.end());
        QCOMPARE(descending, ascending);
        QCOMPARE(ascending.last(), QString("b"));
        // The sorted order is the order that is saved.
        window->FormDestroy();
        QStringList saved;
        for (const CopySet& set : ParseCopySets(test::ReadFile(Path("sets.dat")))) {
            saved << QString::fromStdString(set.source);
        }
        QCOMPARE(saved, Column(list, 0));
    }

    void openWithANewNameSavesTheOldListFirst()
    {
        std::string old = LetterSets(2);
        auto window = MakeWindow({old});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        ClickRow(list, 1);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdUp"), Qt::LeftButton);
        const QString fresh = QString::fromStdString(Path("second.dat"));
        Dialogs::PushOpenFile(fresh);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdOpen"), Qt::LeftButton);

        QCOMPARE(Dialogs::OpenRequests().size(), std::size_t(1));
        const OpenFileRequest& request = Dialogs::OpenRequests()[0];
        QCOMPARE(request.title, QString("コピーセットを開く"));
        QCOMPARE(request.filters,
                 QStringList({"コピーセットファイル(*.DAT) (*.dat)", "すべてのファイル(*.*) (*)"}));
        QCOMPARE(request.defaultSuffix, QString("dat"));
        QCOMPARE(request.fileName, QString("velmor.dat"));
        QCOMPARE(request.directory, m_dir->path() + "/");

        // The moved order reached the old file before the list was emptied.
        QCOMPARE(ParseCopySets(test::ReadFile(old)).front().source, std::string("/s/b"));
        QCOMPARE(Rows(list), 0);
        QVERIFY(!Enabled(*window, "cmdExeCopyAll"));
        QVERIFY(AllEnabled(*window, false));
        QCOMPARE(Find<QLabel>(*window, "lblCopysetFileName")->text(), fresh);
        QCOMPARE(window->CopysetFileName(), fresh.toStdString());
        QVERIFY(!QFileInfo::exists(fresh));
        window->FormDestroy();
        QVERIFY(QFileInfo::exists(fresh));
        QCOMPARE(test::ReadFile(fresh.toStdString()), std::string());
    }

    void openLoadsAnExistingFile()
    {
        std::string other = WriteSets({{"/x", "/y", " ", ""}}, "other.dat");
        auto window = MakeWindow({LetterSets(2)});
        Dialogs::PushOpenFile(QString::fromStdString(other));
        QTest::mouseClick(Find<QPushButton>(*window, "cmdOpen"), Qt::LeftButton);
        QCOMPARE(Column(Find<QTreeView>(*window, "lvwCopySet"), 0), QStringList{"/x"});
        QVERIFY(Enabled(*window, "cmdExeCopyAll"));
        QVERIFY(MessageBoxes::Shown().empty());
    }

    void openCancelledChangesNothing()
    {
        std::string file = LetterSets(2);
        auto window = MakeWindow({file});
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        Sets(list).Remove(0); // a change that a save would write
        Dialogs::PushOpenFile(std::nullopt);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdOpen"), Qt::LeftButton);
        QCOMPARE(ParseCopySets(test::ReadFile(file)).size(), std::size_t(2));
        QCOMPARE(window->CopysetFileName(), file);
        QCOMPARE(Rows(list), 1);
    }

    void aSaveErrorStopsOpenBeforeTheListIsCleared()
    {
        std::string file = LetterSets(2);
        QFile::setPermissions(QString::fromStdString(file), QFile::ReadOwner | QFile::ReadUser);
        auto window = MakeWindow({file});
        Dialogs::PushOpenFile(QString::fromStdString(Path("new.dat")));
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdOpen"), Qt::LeftButton);
        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(1));
        QCOMPARE(MessageBoxes::Shown()[0].icon, MessageIcon::Error);
        QCOMPARE(Rows(Find<QTreeView>(*window, "lvwCopySet")), 2);
        QCOMPARE(window->CopysetFileName(), file);
        QCOMPARE(Find<QLabel>(*window, "lblCopysetFileName")->text(), QString::fromStdString(file));
    }

    void settingTheInterval_data()
    {
        QTest::addColumn<int>("armedFirst");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("select");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("setEnabled");

        const QString cycling =
            "自動サイクル実行中はOstrelの一切の設定・実行操作を行わないでください！\r\n"
            "設定や実行操作が必要な場合は、時間間隔をゼロに設定変更してから行ってください。";
        QTest::newRow("0 stops the timer") << 3 << 0 << true << QString() << 0 << false;
        QTest::newRow("5 without a selection")
            << 0 << 5 << false << "実行するコピーセットを選択してください！" << 0 << true;
        QTest::newRow("5 with a selection") << 0 << 5 << true << cycling << 300000 << false;
        QTest::newRow("1440") << 0 << 1440 << true << cycling << 86400000 << false;
    }

    void settingTheInterval()
    {
        QFETCH(int, armedFirst);
        QFETCH(int, minutes);
        QFETCH(bool, select);
        QFETCH(QString, message);
        QFETCH(int, interval);
        QFETCH(bool, setEnabled);
        auto window = MakeWindow({LetterSets(2)});
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        QPushButton* set = Find<QPushButton>(*window, "cmdSetInterval");
        if (armedFirst > 0) {
            Select(list, 0, true);
            StepInterval(*window, armedFirst);
            MessageBoxes::PushAnswer(MessageAnswer::Ok);
            QTest::mouseClick(set, Qt::LeftButton);
            QVERIFY(AutoExec(*window)->isActive());
            MessageBoxes::Reset();
        }
        Select(list, 1, select);
        Select(list, 0, false);
        StepInterval(*window, minutes - armedFirst);
        QVERIFY(set->isEnabled());
        if (!message.isEmpty()) {
            MessageBoxes::PushAnswer(MessageAnswer::Ok);
        }
        QTest::mouseClick(set, Qt::LeftButton);

        QCOMPARE(ShownTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        for (const Message& shown : MessageBoxes::Shown()) {
            QCOMPARE(shown.icon, MessageIcon::Exclamation);
            QCOMPARE(shown.buttons, MessageButtons::Ok);
        }
        QCOMPARE(MessageBoxes::BeepCount(), message.isEmpty() ? 0 : 1);
        QCOMPARE(AutoExec(*window)->isActive(), interval > 0);
        QCOMPARE(AutoExec(*window)->interval(), interval);
        QCOMPARE(set->isEnabled(), setEnabled);
    }

    void aTimerTickRunsTheSelectedSetsAndReArms_data()
    {
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("interval");

        QTest::newRow("run, interval raised meanwhile") << MessageAnswer::Ok << 1 << 180000;
        QTest::newRow("cancelled") << MessageAnswer::Cancel << 0 << 120000;
        QTest::newRow("interval set to 0 meanwhile") << MessageAnswer::Ok << -2 << 0;
    }

    void aTimerTickRunsTheSelectedSetsAndReArms()
    {
        QFETCH(MessageAnswer, answer);
        QFETCH(int, change);
        QFETCH(int, interval);
        auto window = MakeWindow({MakeSets(2)});
        window->show();
        QTreeView* list = Find<QTreeView>(*window, "lvwCopySet");
        ClickRow(list, 1);
        StepInterval(*window, 2);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdSetInterval"), Qt::LeftButton);
        QCOMPARE(AutoExec(*window)->interval(), 120000);
        StepInterval(*window, change);

        MessageBoxes::Reset();
        MessageBoxes::PushAnswer(answer);
        bool activeDuringRun = true;
        bool ran = answer == MessageAnswer::Ok;
        if (ran) {
            Dialogs::PushDialog([&](QDialog& dialog) {
                activeDuringRun = AutoExec(*window)->isActive();
                return CloseWithOk(dialog);
            });
        }
        QVERIFY(QMetaObject::invokeMethod(AutoExec(*window), "timeout"));

        QCOMPARE(ShownTexts(),
                 QStringList{QString::fromStdString("'" + Path("src1") + "' から '" + Path("dst1")
                                                    + "' へのコピーを開始します！")});
        QCOMPARE(Dialogs::Shown(), ran ? QStringList{"実行結果"} : QStringList());
        QVERIFY(!ran || !activeDuringRun);
        QCOMPARE(test::ReadTree(Path("dst1")).size(), std::size_t(ran ? 1 : 0));
        QVERIFY(test::ReadTree(Path("dst0")).empty());
        QCOMPARE(AutoExec(*window)->isActive(), interval > 0);
        QCOMPARE(AutoExec(*window)->interval(), interval);
    }

    void hintsShowInTheFirstStatusPanel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hint");
        // The list and the spin control are reached through their child widgets; the disabled
        // buttons still show their hints.
        QTest::newRow("list") << "lvwCopySet"
                              << "コピーセットは、コピー元とコピー先の組合せのことです。";
        QTest::newRow("disabled run") << "cmdExeCopy"
                                      << "選択されたコピーセットのコピーを実行します。";
        QTest::newRow("help") << "cmdHelp"
                              << "バージョン情報＆操作説明を表示します。";
        QTest::newRow("trash")
            << "chkTrash"
            << "削除したファイルやフォルダをゴミ箱へ移動します。ローカルドライブのみ有効です。";
        QTest::newRow("spin") << "udInterval"
                              << "自動サイクル実行の時間間隔を指定します。";
        QTest::newRow("interval text")
            << "txtInterval"
            << "自動サイクル実行の実行時間間隔(分)です。ゼロの場合は自動実行されません。";
    }

    void hintsShowInTheFirstStatusPanel()
    {
        QFETCH(QString, name);
        QFETCH(QString, hint);
        WriteSettings("[Setting]\nchkDelete=-1\n"); // chkTrash enabled, so it sees the pointer
        auto window = MakeWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QWidget* control = Find<QWidget>(*window, name.toUtf8().constData());
        QTest::mouseMove(Find<QWidget>(*window, "lblCopysetFileName"));
        QTest::mouseMove(control);
        QTRY_COMPARE(Find<QLabel>(*window, "sbrStatusPanel0")->text(), hint);
        // Over a control without a hint the panel is empty again.
        QTest::mouseMove(Find<QWidget>(*window, "lblCopysetFileName"));
        QTRY_COMPARE(Find<QLabel>(*window, "sbrStatusPanel0")->text(), QString());
    }

    void theWindowKeepsItsLeastSize_data()
    {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("670 wide") << QSize(670, 480) << false;
        QTest::newRow("400 high") << QSize(700, 400) << false;
        QTest::newRow("671 by 401") << QSize(671, 401) << true;
        QTest::newRow("larger") << QSize(900, 700) << true;
    }

    void theWindowKeepsItsLeastSize()
    {
        QFETCH(QSize, asked);
        QFETCH(bool, allowed);
        QCOMPARE(TfrmMain::FormCanResize(asked.width(), asked.height()), allowed);
        auto window = MakeWindow();
        window->show();
        window->resize(asked);
        QCOMPARE(window->size() == asked, allowed);
        QVERIFY(window->width() > 670 && window->height() > 400);
    }

    void theLayoutRunsFromBannerToStatusBar()
    {
        auto window = MakeWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto top = [&](const char* name) {
            return Find<QWidget>(*window, name)->mapTo(window.get(), QPoint()).y();
        };
        auto left = [&](const char* name) {
            return Find<QWidget>(*window, name)->mapTo(window.get(), QPoint()).x();
        };
        QWidget* banner = Find<QWidget>(*window, "pnlBanner");
        QCOMPARE(banner->height(), 57);
        QCOMPARE(banner->width(), window->width());
        QVERIFY(top("pnlBanner") < top("lblCopysetFileName"));
        QVERIFY(top("lblCopysetFileName") < top("lvwCopySet"));
        QVERIFY(top("lvwCopySet") + Find<QWidget>(*window, "lvwCopySet")->height() <= top("cmdOpen"));
        QVERIFY(top("cmdOpen") < top("grpOption"));
        QVERIFY(top("grpOption") < top("sbrStatus"));
        // The right column, top to bottom, beside the list; the bottom row, left to right.
        const char* column[] = {"cmdExeCopy", "cmdExeCopyAll", "cmdShowLog", "cmdHelp", "cmdEnd"};
        for (int i = 0; i < 5; ++i) {
            QVERIFY(left(column[i]) > left("lvwCopySet") + Find<QWidget>(*window, "lvwCopySet")->width() - 1);
            QVERIFY(i == 0 || top(column[i - 1]) < top(column[i]));
        }
        const char* row[] = {"cmdOpen", "cmdAddSet", "cmdEditSet", "cmdDeleteSet", "cmdUp", "cmdDown"};
        for (int i = 1; i < 6; ++i) {
            QVERIFY(left(row[i - 1]) < left(row[i]));
            QCOMPARE(top(row[i - 1]), top(row[i]));
        }
        // The animation on the left of the banner, the maker's notice on the right.
        QVERIFY(left("aniCopy") < left("lblNotice"));
        QCOMPARE(Find<QLabel>(*window, "lblNotice")->text(), QString(kMakerNotice));
        QVERIFY(left("lblNotice") + Find<QWidget>(*window, "lblNotice")->width() > window->width() - 20);
    }

    void theBannerAnimationLoops()
    {
        auto window = MakeWindow();
        window->show();
        auto* animation = Find<CopyAnimation>(*window, "aniCopy");
        auto frameImage = [animation](int frame) {
            animation->SetFrame(frame);
            return animation->grab().toImage();
        };
        QImage first = frameImage(0);
        QImage middle = frameImage(CopyAnimation::kFrameCount / 2);
        QVERIFY(first != middle);
        animation->SetFrame(CopyAnimation::kFrameCount - 1);
        QTRY_COMPARE(animation->Frame(), 0);
        QTRY_COMPARE(animation->Frame(), 2);
    }

    void helpOpensTheAboutBox()
    {
        auto window = MakeWindow();
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdHelp"), Qt::LeftButton);
        QCOMPARE(Dialogs::Shown(), QStringList{"バージョン情報 & 操作説明"});
        QCOMPARE(MessageBoxes::BeepCount(), 1);
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdShowLog"), Qt::LeftButton);
        QCOMPARE(Dialogs::Shown().last(), QString("実行結果"));
    }

    // ---- Bad input and load -------------------------------------------------------------------

    // Whatever bytes a copy-set file holds, the window loads it and saves it back as it loaded it:
    // byte for byte when every line is in the written form, otherwise in that form, which reads
    // back as the same rows.
    void aCopySetFileOfAnyBytesIsSavedAsItWasLoaded_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<int>("rows");

        const QByteArray nul = QByteArray::fromStdString("/s\0rc\t/t\0\t\0\t\0v\r\n"s);
        QTest::newRow("NUL bytes") << nul << nul << 1;
        const QByteArray invalid("\xff\xfe/src\t\x80\x81\t\xc3\t\xe3\x81\r\n/ok\t/\xed\xa0\x80\t \t\xf8\r\n");
        QTest::newRow("invalid UTF-8") << invalid << invalid << 2;
        QByteArray longLine = "/src\t/" + QByteArray(10 * 1024 * 1024, 'x') + "\t \tVOL\r\n";
        QTest::newRow("a 10 MB line") << longLine << longLine << 1;
        QByteArray many;
        for (int i = 0; i < 100000; ++i) {
            many += "/home/user/src" + QByteArray::number(i) + "\t/media/user/USB/dst" + QByteArray::number(i)
                + (i % 3 ? "\t24/05/17 09:41\t" : "\t \t") + (i % 2 ? "USB" : "") + "\r\n";
        }
        QTest::newRow("100,000 lines") << many << many << 100000;
        QTest::newRow("other line forms")
            << QByteArray("a\tb\nno tab\r\nc\td\te\tf\tg\r\n\r\nlone\rCR\tx\ny\tz\x1a"
                          "after the end")
            << QByteArray("a\tb\t \t\r\n\tno tab\t \t\r\nc\td\te\tf\tg\r\n\t\t \t\r\nloneCR\tx\t \t\r\n"
                          "y\tz\t \t\r\n")
            << 6;
    }

    void aCopySetFileOfAnyBytesIsSavedAsItWasLoaded()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, saved);
        QFETCH(int, rows);
        const std::string file = Path("bad.dat");
        test::WriteFile(file, content.toStdString());
        auto window = MakeWindow({file});
        QCOMPARE(Rows(Find<QTreeView>(*window, "lvwCopySet")), rows);
        QVERIFY(MessageBoxes::Shown().empty());
        window->FormDestroy();
        QVERIFY(MessageBoxes::Shown().empty());
        const std::string bytes = test::ReadFile(file);
        QCOMPARE(bytes.size(), static_cast<std::size_t>(saved.size()));
        QVERIFY(bytes == saved.toStdString());
    }

    // The abort button pressed while a run driven from the window is partway through: nothing is
    // carried out after the press is handled, the log keeps its lines without a summary, and the
    // abort is reported instead of the result.
    void abortStopsTheRunAtTheNextEntry_data()
    {
        QTest::addColumn<bool>("deleting");
        QTest::newRow("while copying") << false;
        QTest::newRow("while deleting") << true;
    }

    void abortStopsTheRunAtTheNextEntry()
    {
        QFETCH(bool, deleting);
        constexpr int kEntries = 3000;
        const std::string sets = MakeSets(1, deleting ? 0 : kEntries);
        const std::string target = Path("dst0");
        if (deleting) {
            test::Tree stale;
            for (int i = 0; i < kEntries; ++i) {
                stale["stale" + std::to_string(i)] = "s";
            }
            test::MakeTree(target, stale);
        }
        auto window = MakeWindow({sets});
        window->show();
        Find<QCheckBox>(*window, "chkDelete")->setChecked(deleting);
        MessageBoxes::PushAnswer(MessageAnswer::Ok); // start
        if (deleting) {
            // The source is empty and the target full: the user confirms emptying it.
            MessageBoxes::PushAnswer(MessageAnswer::Yes);
        }
        MessageBoxes::PushAnswer(MessageAnswer::Ok); // the abort notice

        const std::string logPath = m_program + "/velmor.log";
        std::string logAtAbort;
        test::Tree targetAtAbort;
        bool pressed = false;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, window.get(), [&] {
            if (pressed || !window->Progress()->isVisible()) {
                return;
            }
            // The first handling of events once the pass has carried out entries.
            std::string log = test::ReadFile(logPath);
            if (std::count(log.begin(), log.end(), '\n') > 0) {
                logAtAbort = log;
                targetAtAbort = test::ReadTree(target);
                pressed = true;
                QTest::mouseClick(window->Progress()->findChild<QPushButton*>("cmdAbort"), Qt::LeftButton);
            }
        });
        poll.start();
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopyAll"), Qt::LeftButton);
        poll.stop();

        QVERIFY2(pressed, "the window handled no events while the run carried out its entries");
        QVERIFY(test::ReadFile(logPath) == logAtAbort);
        QVERIFY(test::ReadTree(target) == targetAtAbort);
        const auto lines = std::count(logAtAbort.begin(), logAtAbort.end(), '\n');
        QVERIFY(lines > 0 && lines < kEntries);
        QVERIFY(logAtAbort.find('*') == std::string::npos);
        const std::string word = deleting ? "  削除\r\n" : ")  追加コピー\r\n";
        QVERIFY(logAtAbort.ends_with(word));
        QCOMPARE(ShownTexts().last(), QString("コピーを中止しました！"));
        QCOMPARE(MessageBoxes::Shown().back().icon, MessageIcon::Information);
        QVERIFY(Dialogs::Shown().isEmpty());
        QCOMPARE(Text(Find<QTreeView>(*window, "lvwCopySet"), 0, 2), QString(" "));
        QVERIFY(!window->Driver().IsRunning());
        QVERIFY(Enabled(*window, "cmdExeCopyAll"));
    }

    // A settings file that can't be read, or can't be written, is no reason to stop: the window
    // opens with what it can read (defaults otherwise), and closing it still saves the list.
    void settingsThatCannotBeReadOrWrittenEndNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("a folder in the way") << "folder";
        QTest::newRow("read-only file system") << "read-only";
    }

    void settingsThatCannotBeReadOrWrittenEndNothing()
    {
        QFETCH(QString, kind);
        const std::string conf = (m_config + "/Kivora/Velmor.conf").toStdString();
        std::unique_ptr<test::TmpfsMount> mount;
        if (kind == "garbage") {
            std::string noise;
            for (int i = 0; i < 4096; ++i) {
                noise.push_back(static_cast<char>((i * 7919) & 0xff));
            }
            test::WriteFile(conf, noise);
        } else if (kind == "folder") {
            test::MakeTree(conf, {});
        } else {
            if (!test::IsRoot()) {
                QSKIP("mounting a tmpfs needs root");
            }
            test::MakeTree(m_config.toStdString(), {});
            mount = std::make_unique<test::TmpfsMount>(m_config.toStdString(), "64k");
            if (!mount->Mounted()) {
                QSKIP("tmpfs can't be mounted here");
            }
            test::WriteFile(conf,
                            "[Setting]\nchkDelete=-1\nAutoInterval=5\n[Startup]\nWidth=800\nHeight=450\n");
            QCOMPARE(
                ::mount(nullptr, m_config.toUtf8().constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        }
        const test::Tree before = test::ReadTree(m_config.toStdString());
        const std::string sets = LetterSets(3);

        auto window = MakeWindow({sets});
        window->show();
        const bool stored = kind == "read-only";
        QCOMPARE(Rows(Find<QTreeView>(*window, "lvwCopySet")), 3);
        QCOMPARE(Find<QCheckBox>(*window, "chkDelete")->isChecked(), stored);
        QCOMPARE(Find<QLineEdit>(*window, "txtInterval")->text(), QString(stored ? "5" : "0"));
        // A stored size is the outer one, frame included.
        QCOMPARE(stored ? window->frameGeometry().size() : window->size(),
                 stored ? QSize(800, 450) : QSize(681, 487));

        Find<QCheckBox>(*window, "chkLogOnly")->setChecked(true);
        Sets(Find<QTreeView>(*window, "lvwCopySet")).Remove(0);
        window->close();
        window->FormDestroy();
        QVERIFY(!window->isVisible());
        QVERIFY(MessageBoxes::Shown().empty());
        QCOMPARE(ParseCopySets(test::ReadFile(sets)).size(), std::size_t(2));
        if (kind == "garbage") {
            // Written anew: the next start finds what this one left.
            auto next = MakeWindow({sets});
            QVERIFY(Find<QCheckBox>(*next, "chkLogOnly")->isChecked());
        } else {
            QVERIFY(test::ReadTree(m_config.toStdString()) == before);
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
