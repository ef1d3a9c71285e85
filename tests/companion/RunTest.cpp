#include "CompanionFixture.h"
#include "TmpfsMount.h"
#include "WindowFinder.h"
#include "companion/core/Items.h"
#include "companion/core/LogFields.h"
#include "companion/ui/frmPRVN.h"
#include "store/CopySetFile.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace brennick;
using namespace brennick::test;
using ostrel::test::Find;
using ostrel::test::ItemTexts;
using ostrel::test::MakeTree;
using ostrel::test::ReadFile;
using ostrel::test::ReadTree;
using ostrel::test::WriteFile;

// Brennick and the real Parvane together: a click on an item button runs Parvane unattended on
// the item, and the log viewer that opens afterwards shows the log of that run.
class RunTest : public QObject
{
    Q_OBJECT

    // A copy of the built Parvane at program, ready to run.
    static bool CopyParvane(const std::string& program)
    {
        WriteFile(program, ReadFile(PARVANE_PATH));
        return ::chmod(program.c_str(), 0755) == 0;
    }

private slots:
    void init() { ResetScripts(); }

    void aClickRunsParvaneAndShowsTheLogItWrote()
    {
        CompanionFolder folder;
        // Parvane in a folder of its own, so its log lands there; blanks in every path.
        const std::string program = folder.Path("parvane dir/Parvane");
        QVERIFY(CopyParvane(program));
        const std::string source = folder.Path("source dir");
        const std::string target = folder.Path("target dir");
        MakeTree(source, {{"a.txt", "a"}, {"sub/b,c.txt", "b"}});
        QCOMPARE(WriteItemFile(folder.Folder(), "My Home", {source, target, "", ""}), 0);
        folder.WriteIni("[Past]\r\ntext1=" + program + "\r\ncheck2=1\r\ncom24=My Home\r\n");

        ostrel::test::FakeVolumes volumes;
        frmPRVN launcher(folder.Folder(), volumes);
        launcher.Start();
        QCOMPARE(launcher.ItemCaption(4), std::string("My Home"));

        ModalHandler modals;
        QStringList shown;
        modals.Push([&](QWidget* modal) {
            shown = ItemTexts(Find<QListWidget>(modal, QStringLiteral("List1")));
            modal->close();
        });
        QTest::mouseClick(Find<QPushButton>(launcher, QStringLiteral("Command2(4)")), Qt::LeftButton);

        // Parvane has ended before the launcher went on: the target is complete and the log written.
        QCOMPARE(modals.Seen(), QStringList{QStringLiteral("frmLog")});
        QCOMPARE(ReadTree(target), ReadTree(source));
        const std::string log = ReadFile(folder.Path("parvane dir/velmor.log"));
        QStringList expected;
        for (const std::string& field : ReadLogFields(log)) {
            expected << QString::fromStdString(field);
        }
        QCOMPARE(shown, expected);
        QVERIFY(shown.contains(QStringLiteral("コピーファイル総数  ： 2")));
        QVERIFY(shown.contains(QString::fromStdString(source + " --> " + target)));
        // The file name with a comma shows as two entries.
        QVERIFY(shown.contains(QString::fromStdString(source + "/sub/b")));

        // Parvane stamped the item when it ended.
        std::vector<ostrel::CopySet> sets;
        QCOMPARE(ostrel::ReadCopySetFile(folder.Data("My Home.dat"), sets), 0);
        QCOMPARE(sets.size(), 1u);
        QCOMPARE(sets[0].lastRun.size(), std::string("yy/mm/dd hh:nn").size());
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        QCOMPARE(modals.Unexpected(), 0);
    }

    // An item whose name is not valid UTF-8 reaches Parvane as its own bytes: Parvane runs that
    // item and stamps it, and no other file appears in DATA.
    void anItemNamedInOtherBytesRunsAsItself()
    {
        CompanionFolder folder;
        const std::string program = folder.Path("parvane/Parvane");
        QVERIFY(CopyParvane(program));
        const std::string source = folder.Path("source");
        const std::string target = folder.Path("target");
        MakeTree(source, {{"a.txt", "a"}});
        const std::string name = "Caf\xE9";
        QCOMPARE(WriteItemFile(folder.Folder(), name, {source, target, "", ""}), 0);
        folder.WriteIni("[Past]\r\ntext1=" + program + "\r\ncom20=" + name + "\r\n");

        ostrel::test::FakeVolumes volumes;
        frmPRVN launcher(folder.Folder(), volumes);
        launcher.Start();
        QCOMPARE(launcher.ItemCaption(0), name);
        QTest::mouseClick(Find<QPushButton>(launcher, QStringLiteral("Command2(0)")), Qt::LeftButton);

        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        QCOMPARE(ReadTree(target), ReadTree(source));
        const ostrel::test::Tree data = ReadTree(folder.Data());
        QCOMPARE(data.size(), 1u);
        QCOMPARE(data.begin()->first, name + ".dat");
        std::vector<ostrel::CopySet> sets;
        QCOMPARE(ostrel::ReadCopySetFile(folder.Data(name + ".dat"), sets), 0);
        QCOMPARE(sets.size(), 1u);
        QCOMPARE(sets[0].lastRun.size(), std::string("yy/mm/dd hh:nn").size());
    }

    // Parvane stopped (here at the volume-name question, which it answers No without a display):
    // the launcher says so with Parvane's own lines and does not pass an old log off as this run's.
    void aStoppedRunShowsWhyAndNoLog()
    {
        CompanionFolder folder;
        const std::string program = folder.Path("parvane/Parvane");
        QVERIFY(CopyParvane(program));
        const std::string source = folder.Path("source");
        const std::string target = folder.Path("target");
        MakeTree(source, {{"a.txt", "a"}});
        WriteFile(folder.Path("parvane/velmor.log"), "an old run\r\n");
        QCOMPARE(WriteItemFile(folder.Folder(), "Stick", {source, target, "", "BACKUP"}), 0);
        folder.WriteIni("[Past]\r\ntext1=" + program + "\r\ncheck2=1\r\ncom20=Stick\r\n");

        ostrel::test::FakeVolumes volumes;
        frmPRVN launcher(folder.Folder(), volumes);
        launcher.Start();
        ModalHandler modals;
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        QTest::mouseClick(Find<QPushButton>(launcher, QStringLiteral("Command2(0)")), Qt::LeftButton);

        QCOMPARE(modals.Seen(), QStringList());
        const QStringList texts = MessageBoxes::ShownTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].startsWith(QStringLiteral("PRVNのコピーは途中で止まりました。")),
                 qPrintable(texts[0]));
        const QString why = QString::fromStdString("Parvane: '" + source + "' から '" + target
                                                   + "' へのコピーを中止しました: ");
        QVERIFY2(texts[0].contains(why), qPrintable(texts[0]));
        QCOMPARE(MessageBoxes::ShownBoxes()[0].buttons, BoxButtons::Ok);
        QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
        QCOMPARE(ReadTree(target), ostrel::test::Tree());
        QCOMPARE(ReadFile(folder.Path("parvane/velmor.log")), std::string("an old run\r\n"));
    }

    void bothLayoutsKeepTheirFilesAndShareTheLog_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("portable") << false;
        QTest::newRow("installed") << true;
    }

    // Brennick and Parvane in one folder: one the user may write, as on a stick, where every file
    // stays beside them; or a read-only one, as installed, where each goes to the user's folders.
    // Either way the viewer shows the log that the real Parvane wrote.
    void bothLayoutsKeepTheirFilesAndShareTheLog()
    {
        QFETCH(bool, installed);
        CompanionFolder folder;
        const std::string programs = folder.Path("programs");
        MakeTree(programs, {});
        // Root writes any folder whatever its mode, but not one on a read-only mount.
        std::optional<ostrel::test::TmpfsMount> mount;
        if (installed && ostrel::test::IsRoot()) {
            mount.emplace(programs, "256m");
            QVERIFY(mount->Mounted());
        }
        const std::string program = programs + "/Parvane";
        QVERIFY(CopyParvane(program));
        struct Writable
        {
            std::string folder;
            ~Writable() { ::chmod(folder.c_str(), 0755); }
        } restore{programs};
        if (installed && mount) {
            QCOMPARE(::mount(nullptr, programs.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        } else if (installed) {
            QCOMPARE(::chmod(programs.c_str(), 0555), 0);
        }
        const std::string source = folder.Path("source");
        const std::string target = folder.Path("target");
        MakeTree(source, {{"a.txt", "a"}, {"b.txt", "b"}});
        QCOMPARE(WriteItemFile(programs, "Home", {source, target, "", ""}), 0);
        const std::string ini = GetIniPath(programs);
        QVERIFY(PutIniStr(ini, "Past", "text1", program));
        QVERIFY(PutIniStr(ini, "Past", "check2", "1"));
        QVERIFY(PutIniStr(ini, "Past", "com20", "Home"));

        ostrel::test::FakeVolumes volumes;
        frmPRVN launcher(programs, volumes);
        launcher.Start();
        ModalHandler modals;
        QStringList shown;
        QList<QSize> viewerIcon;
        modals.Push([&](QWidget* modal) {
            shown = ItemTexts(Find<QListWidget>(modal, QStringLiteral("List1")));
            viewerIcon = modal->windowIcon().availableSizes();
            modal->close();
        });
        QTest::mouseClick(Find<QPushButton>(launcher, QStringLiteral("Command2(0)")), Qt::LeftButton);
        QCOMPARE(modals.Seen(), QStringList{QStringLiteral("frmLog")});
        // The launcher's icon, the one of its desktop entry, shows on its windows.
        QCOMPARE(viewerIcon, (QList<QSize>{QSize(48, 48), QSize(256, 256)}));
        QCOMPARE(ReadTree(target), ReadTree(source));

        const std::string home = folder.Path("home");
        const std::string log =
            installed ? home + "/.local/state/ostrel/velmor.log" : programs + "/velmor.log";
        QStringList expected;
        for (const std::string& field : ReadLogFields(ReadFile(log))) {
            expected << QString::fromStdString(field);
        }
        QVERIFY(expected.contains(QString::fromStdString(source + " --> " + target)));
        QCOMPARE(shown, expected);

        const std::string data = installed ? home + "/.local/share/ostrel/DATA/" : programs + "/DATA/";
        QCOMPARE(ini, installed ? home + "/.config/ostrel/iniBK.ini" : programs + "/iniBK.ini");
        QCOMPARE(GetIniStr(ini, "Past", "com20", ""), std::string("Home"));
        std::vector<ostrel::CopySet> sets;
        QCOMPARE(ostrel::ReadCopySetFile(data + "Home.dat", sets), 0);
        QVERIFY(sets.at(0).lastRun != " " && !sets.at(0).lastRun.empty());
        std::vector<std::string> beside;
        for (const auto& [name, content] : ReadTree(programs)) {
            beside.push_back(name);
        }
        const std::vector<std::string> expectedBeside = installed
            ? std::vector<std::string>{"Parvane"}
            : std::vector<std::string>{"DATA/", "DATA/Home.dat", "Parvane", "iniBK.ini", "velmor.log"};
        QCOMPARE(beside, expectedBeside);
        if (!installed) {
            for (const auto& [name, content] : ReadTree(home)) {
                QVERIFY2(name.find("ostrel") == std::string::npos, name.c_str());
            }
        }
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        QCOMPARE(modals.Unexpected(), 0);
    }

    // The item vanished after the launcher listed it: Parvane can't start the run (3), says why,
    // and no empty item of that name is made in DATA.
    void aVanishedItemIsNotRecreated()
    {
        CompanionFolder folder;
        const std::string program = folder.Path("parvane/Parvane");
        QVERIFY(CopyParvane(program));
        QCOMPARE(WriteItemFile(folder.Folder(), "Gone", {folder.Path("s"), folder.Path("t"), "", ""}), 0);
        folder.WriteIni("[Past]\r\ntext1=" + program + "\r\ncheck2=1\r\ncom20=Gone\r\n");

        ostrel::test::FakeVolumes volumes;
        frmPRVN launcher(folder.Folder(), volumes);
        launcher.Start();
        QCOMPARE(launcher.ItemCaption(0), std::string("Gone"));
        QCOMPARE(::unlink(folder.Data("Gone.dat").c_str()), 0);
        ModalHandler modals;
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        QTest::mouseClick(Find<QPushButton>(launcher, QStringLiteral("Command2(0)")), Qt::LeftButton);

        QCOMPARE(modals.Seen(), QStringList());
        const QString expected =
            QStringLiteral("PRVNはコピーを開始できませんでした。新しいログはありません。\r\n\r\n")
            + QString::fromStdString("Parvane: '" + folder.Data("Gone.dat") + "' が見つかりません！");
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList{expected});
        QCOMPARE(ReadTree(folder.Data()), ostrel::test::Tree());
        QCOMPARE(ReadTree(folder.Path("parvane")).count("velmor.log"), 0u);
    }
};

QTEST_MAIN(RunTest)
#include "RunTest.moc"
