#include "CommandLine.h"
#include "CopyAnimation.h"
#include "CopySetFile.h"
#include "DialogDriver.h"
#include "Dialogs.h"
#include "FakeVolumes.h"
#include "Maker.h"
#include "MessageBoxes.h"
#include "TestTree.h"
#include "TfrmMain.h"
#include "TfrmProgress.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using namespace ostrel;

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

    template <typename T>
    static T* Find(TfrmMain& window, const char* name)
    {
        T* widget = window.findChild<T*>(name);
        if (!widget) {
            qFatal("no control %s", name);
        }
        return widget;
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
        m_dir.reset();
    }

    void startsEmptyWithTheDefaults()
    {
        auto window = MakeWindow();
        QCOMPARE(Find<QLabel>(*window, "lblCopysetFileName")->text(),
                 QString::fromStdString(m_program + "/velmor.dat"));
        QCOMPARE(Find<QTreeWidget>(*window, "lvwCopySet")->topLevelItemCount(), 0);
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
        QTreeWidget* list = Find<QTreeWidget>(*window, "lvwCopySet");
        QCOMPARE(QList<int>({list->columnWidth(0), list->columnWidth(1), list->columnWidth(2),
                             list->columnWidth(3)}),
                 QList<int>({220, 220, 93, 130}));
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
        QTEST(Find<QTreeWidget>(*window, "lvwCopySet")->columnWidth(0), "column0");
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
        QTreeWidget* list = Find<QTreeWidget>(*window, "lvwCopySet");
        QVERIFY(Enabled(*window, "cmdExeCopyAll"));
        list->topLevelItem(1)->setSelected(true);
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
        QTreeWidget* list = Find<QTreeWidget>(*window, "lvwCopySet");
        list->topLevelItem(1)->setSelected(true);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopy"), Qt::LeftButton);

        QCOMPARE(ShownTexts(),
                 QStringList{QString::fromStdString("'" + Path("src1") + "' から '" + Path("dst1")
                                                    + "' へのコピーを開始します！")});
        QCOMPARE(Dialogs::Shown(), QStringList{"実行結果"});
        QCOMPARE(test::ReadTree(Path("dst1")), test::ReadTree(Path("src1")));
        QVERIFY(test::ReadTree(Path("dst0")).empty());
        QVERIFY(QRegularExpression("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d$")
                    .match(list->topLevelItem(1)->text(2))
                    .hasMatch());
        QCOMPARE(list->topLevelItem(0)->text(2), QString(" "));
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
        QCOMPARE(Find<QTreeWidget>(*window, "lvwCopySet")->topLevelItem(0)->text(2), QString(" "));
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
        QCOMPARE(settings.value("Startup/Width").toString(), QString::number(window->width()));
    }

    void theListStaysInOrderDuringARun()
    {
        test::MakeTree(Path("b"), {{"one", "1"}, {"two", "2"}});
        std::vector<CopySet> sets = {{Path("b"), Path("x"), " ", ""}, {Path("a"), Path("y"), " ", ""}};
        test::WriteFile(Path("order.dat"), FormatCopySets(sets));
        auto window = MakeWindow({Path("order.dat")});
        window->show();
        QTreeWidget* list = Find<QTreeWidget>(*window, "lvwCopySet");
        list->topLevelItem(0)->setSelected(true);
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        // Sorting by source and moving rows while the set is run must not reorder the list.
        QTimer::singleShot(0, window.get(), [&] {
            emit list->header()->sectionClicked(0);
            QTest::mouseClick(Find<QPushButton>(*window, "cmdDown"), Qt::LeftButton);
        });
        Dialogs::PushDialog(CloseWithOk);
        QTest::mouseClick(Find<QPushButton>(*window, "cmdExeCopy"), Qt::LeftButton);
        QCOMPARE(Dialogs::Shown(), QStringList{"実行結果"});
        QCOMPARE(list->topLevelItem(0)->text(0), QString::fromStdString(Path("b")));
        // Idle, the same click sorts.
        emit list->header()->sectionClicked(0);
        QCOMPARE(list->topLevelItem(0)->text(0), QString::fromStdString(Path("a")));
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
        QCOMPARE(settings.value("Startup/ColWidth2").toString(), QString("93"));
        QCOMPARE(settings.value("Startup/Width").toString(), QString::number(window->width()));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
