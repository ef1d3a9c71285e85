#include "CompanionFixture.h"
#include "WindowFinder.h"
#include "companion/core/DesktopShortcut.h"
#include "companion/ui/Twips.h"
#include "companion/ui/frmSet.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace brennick;
using namespace brennick::test;
using ostrel::test::Find;
using ostrel::test::MakeTree;
using ostrel::test::ReadFile;
using ostrel::test::ReadTree;
using ostrel::test::Tree;
using ostrel::test::WriteFile;

class SetupWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CompanionFolder> m_folder;
    std::unique_ptr<ostrel::test::FakeVolumes> m_volumes;
    std::unique_ptr<frmSet> m_window;

    frmSet* Open()
    {
        m_window = std::make_unique<frmSet>(m_folder->Folder(), *m_volumes, nullptr);
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get())) {
            qFatal("the set-up window was not shown");
        }
        return m_window.get();
    }

    void Click(const char* name)
    {
        QTest::mouseClick(Find<QPushButton>(m_window.get(), name), Qt::LeftButton);
    }
    QString Text(const char* name) const
    {
        if (auto* label = m_window->findChild<QLabel*>(QString::fromLatin1(name))) {
            return label->text();
        }
        return Find<QLineEdit>(m_window.get(), name)->text();
    }
    QWidget* Focus() const { return m_window->focusWidget(); }

    // Fills the item editor as a user would: the name typed, the folders chosen in the picker.
    void Fill(const QString& name, const QString& source, const QString& target)
    {
        Find<QLineEdit>(m_window.get(), "Text3")->setText(name);
        if (!source.isEmpty()) {
            DialogScript::PushAnswer(source);
            Click("Command6");
        }
        if (!target.isEmpty()) {
            DialogScript::PushAnswer(target);
            Click("Command7");
        }
    }

    QStringList Rows() const
    {
        QStringList rows;
        auto* list = Find<QTreeWidget>(m_window.get(), "ListView1");
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            rows << list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(1);
        }
        return rows;
    }

    void DoubleClickRow(int row)
    {
        auto* list = Find<QTreeWidget>(m_window.get(), "ListView1");
        QRect rect = list->visualItemRect(list->topLevelItem(row));
        // A user's double click: a press and a release, then the double click itself.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

    void SelectRow(int row)
    {
        auto* list = Find<QTreeWidget>(m_window.get(), "ListView1");
        QRect rect = list->visualItemRect(list->topLevelItem(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

    // The row whose file name shows as name; the list keeps the order of the file system.
    int RowOf(const QString& name) const
    {
        auto* list = Find<QTreeWidget>(m_window.get(), "ListView1");
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(0) == name) {
                return i;
            }
        }
        qFatal("no row %s", qPrintable(name));
    }

    Tree DataTree() const { return ReadTree(m_folder->Data()); }

private slots:
    void init()
    {
        ResetScripts();
        m_folder = std::make_unique<CompanionFolder>();
        m_volumes = std::make_unique<ostrel::test::FakeVolumes>();
        m_volumes->labels["/media/u/USB1"] = "USB1";
    }

    void cleanup()
    {
        m_window.reset();
        QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
        QCOMPARE(DialogScript::UnexpectedCount(), 0);
        QCOMPARE(MessageBoxes::PendingCount(), 0);
        QCOMPARE(DialogScript::PendingCount(), 0);
        m_folder.reset();
    }

    void opensWithDefaultsAndWritesThemAtClose()
    {
        Open();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("アイテム登録と設定"));
        QCOMPARE(m_window->MainProgramPath(), std::string());
        QVERIFY(!Find<QCheckBox>(m_window.get(), "Check1")->isChecked());
        QVERIFY(Find<QCheckBox>(m_window.get(), "Check2")->isChecked());
        QCOMPARE(Find<QPushButton>(m_window.get(), "Command1")->text(), QStringLiteral("参\n照"));
        QSignalSpy spy(m_window.get(), &frmSet::mainProgramPathChanged);
        m_window->close();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_folder->IniStr("Past", "text1"), std::string());
        QCOMPARE(m_folder->IniStr("Past", "check1"), std::string("0"));
        QCOMPARE(m_folder->IniStr("Past", "check2"), std::string("1"));
    }

    void theMainProgramIsChosenInTheOpenFileDialog()
    {
        m_folder->WriteIni("[Past]\r\ntext1=/old/Parvane\r\ncheck2=0\r\n");
        Open();
        QCOMPARE(m_window->MainProgramPath(), std::string("/old/Parvane"));
        QVERIFY(!Find<QCheckBox>(m_window.get(), "Check2")->isChecked());
        DialogScript::PushAnswer(QString()); // cancelled: the path stays
        Click("Command1");
        QCOMPARE(m_window->MainProgramPath(), std::string("/old/Parvane"));
        DialogScript::PushAnswer(QStringLiteral("/opt/new tools/Parvane"));
        Click("Command1");
        QCOMPARE(m_window->MainProgramPath(), std::string("/opt/new tools/Parvane"));
        const DialogScript::Request& request = DialogScript::Requests().back();
        QCOMPARE(request.kind, DialogScript::Kind::OpenFile);
        QCOMPARE(request.title, QStringLiteral("対象ファイルの指定"));
        QCOMPARE(request.initialFolder, QString::fromStdString(m_folder->Folder()));
        QCOMPARE(request.filter, QStringLiteral("PRV200ファイル (Parvane)"));
        QSignalSpy spy(m_window.get(), &frmSet::mainProgramPathChanged);
        m_window->close();
        QCOMPARE(spy.value(0).value(0).toByteArray(), QByteArray("/opt/new tools/Parvane"));
        QCOMPARE(m_folder->IniStr("Past", "text1"), std::string("/opt/new tools/Parvane"));
        QCOMPARE(m_folder->IniStr("Past", "check2"), std::string("0"));
    }

    void creatingHomeWritesExactlyOneLine()
    {
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        // No DATA folder yet: creating the first item makes it.
        ostrel::test::RemoveTree(m_folder->Data());
        Open();
        Fill(QStringLiteral("Home"), QStringLiteral("/home/u/Data"), QStringLiteral("/media/u/USB1/Backup"));
        MessageBoxes::PushAnswer(BoxAnswer::Yes);
        Click("Command8");
        QCOMPARE(MessageBoxes::ShownTexts(),
                 QStringList{QStringLiteral("/opt/Parvane\r\nHome.datファイルを作成します")});
        QCOMPARE(MessageBoxes::ShownBoxes().back().buttons, BoxButtons::YesNo);
        QCOMPARE(DataTree(), (Tree{{"Home.dat", "/home/u/Data\t/media/u/USB1/Backup\t\tUSB1\r\n"}}));
        QCOMPARE(Text("Text3"), QString());
        QCOMPARE(Text("Label2"), QString());
        QCOMPARE(Text("Label3"), QString());
        QCOMPARE(Rows(), QStringList{QStringLiteral("Home.dat|/home/u/Data\t/media/u/USB1/Backup\t\tUSB1")});
        QCOMPARE(m_volumes->volumeNameQueries, std::vector<std::string>{"/media/u/USB1/Backup"});
    }

    void aTargetWithoutLabelLeavesTheVolumeEmpty()
    {
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        Open();
        Fill(QStringLiteral("Net"), QStringLiteral("/home/u/Data"), QStringLiteral("/mnt/share/Backup"));
        MessageBoxes::PushAnswer(BoxAnswer::Yes);
        Click("Command8");
        QCOMPARE(DataTree(), (Tree{{"Net.dat", "/home/u/Data\t/mnt/share/Backup\t\t\r\n"}}));
    }

    void equalFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("refused");
        QTest::newRow("equal") << "/home/u/Data"
                               << "/home/u/Data" << true;
        QTest::newRow("letter case differs") << "/home/u/Data"
                                             << "/home/u/data" << false;
    }

    void equalFoldersAreRefused()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(bool, refused);
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        Open();
        Fill(QStringLiteral("Home"), source, target);
        MessageBoxes::PushAnswer(refused ? BoxAnswer::Ok : BoxAnswer::Yes);
        Click("Command8");
        if (refused) {
            QCOMPARE(MessageBoxes::ShownTexts(), QStringList{QStringLiteral("同じディレクトリです")});
            QCOMPARE(Focus(), Find<QPushButton>(m_window.get(), "Command6"));
            QCOMPARE(DataTree(), Tree{});
        } else {
            QCOMPARE(DataTree(), (Tree{{"Home.dat", (source + "\t" + target + "\t\t\r\n").toStdString()}}));
        }
    }

    void noWritesNothingAndAnExistingItemIsReplaced()
    {
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        MakeTree(m_folder->Data(), {{"Home.dat", "/x\t/y\t02/12/08 09:00\tV\r\n/z\t/w\t \t\r\n"}});
        Open();
        Fill(QStringLiteral("Home"), QStringLiteral("/a"), QStringLiteral("/b"));
        MessageBoxes::PushAnswer(BoxAnswer::No);
        Click("Command8");
        QCOMPARE(DataTree(), (Tree{{"Home.dat", "/x\t/y\t02/12/08 09:00\tV\r\n/z\t/w\t \t\r\n"}}));
        QCOMPARE(Text("Text3"), QStringLiteral("Home"));
        QCOMPARE(Text("Label2"), QStringLiteral("/a"));
        QCOMPARE(Text("Label3"), QStringLiteral("/b"));

        MessageBoxes::PushAnswer(BoxAnswer::Yes);
        Click("Command8");
        QCOMPARE(DataTree(), (Tree{{"Home.dat", "/a\t/b\t\t\r\n"}}));
        QCOMPARE(MessageBoxes::ShownBoxes().size(), 2u);
    }

    void namesThatAreNotPlainFileNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("slash") << "a/b";
        QTest::newRow("climbing out") << "../Home";
        QTest::newRow("dot") << ".";
        QTest::newRow("dot dot") << "..";
        QTest::newRow("hidden") << ".Home";
        QTest::newRow("trailing blank") << "Home ";
    }

    void namesThatAreNotPlainFileNamesAreRefused()
    {
        QFETCH(QString, name);
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        MakeTree(m_folder->Data(), {});
        Open();
        Fill(name, QStringLiteral("/a"), QStringLiteral("/b"));
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        Click("Command8");
        QCOMPARE(MessageBoxes::ShownTexts().size(), 1);
        QVERIFY(!MessageBoxes::ShownTexts().front().contains(QStringLiteral("作成します")));
        QCOMPARE(Focus(), Find<QLineEdit>(m_window.get(), "Text3"));
        QCOMPARE(ReadTree(m_folder->Folder()),
                 (Tree{{"DATA/", ""}, {"iniBK.ini", ReadFile(m_folder->Ini())}}));
    }

    void anEmptyFolderLabelStopsCreateAfterTheFocus_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("focus");
        QTest::newRow("no source") << ""
                                   << "/b"
                                   << "Command6";
        QTest::newRow("no target") << "/a"
                                   << ""
                                   << "Command7";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "Command6";
    }

    void anEmptyFolderLabelStopsCreateAfterTheFocus()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QString, focus);
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        Open();
        Fill(QStringLiteral("Home"), source, target);
        Click("Command8");
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        QCOMPARE(Focus()->objectName(), focus);
        QCOMPARE(DataTree(), Tree{});
    }

    void createWithoutTheMainProgramIsRefused()
    {
        MakeTree(m_folder->Data(), {{"Home.dat", "/a\t/b\t\t\r\n"}});
        Open();
        DoubleClickRow(0);
        Find<QLineEdit>(m_window.get(), "Text3")->setText(QStringLiteral("Other"));
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        Click("Command8");
        QCOMPARE(MessageBoxes::ShownTexts(),
                 QStringList{QStringLiteral("先にPRVNのディレクトリを指定して下さい")});
        QCOMPARE(DataTree(), (Tree{{"Home.dat", "/a\t/b\t\t\r\n"}}));
    }

    void theFolderButtonsNeedTheMainProgramAndACancelEmptiesTheLabel()
    {
        Open();
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        Click("Command6");
        QCOMPARE(MessageBoxes::ShownTexts(),
                 QStringList{QStringLiteral("先にPRVNのディレクトリを指定して下さい")});
        QVERIFY(DialogScript::Requests().empty());

        Find<QPlainTextEdit>(m_window.get(), "Text1")->setPlainText(QStringLiteral("/opt/Parvane"));
        DialogScript::PushAnswer(QStringLiteral("/src"));
        Click("Command6");
        QCOMPARE(DialogScript::Requests().back().title,
                 QStringLiteral("コピー元のフォルダを指定して下さい。"));
        QCOMPARE(DialogScript::Requests().back().initialFolder, QString());
        QCOMPARE(Text("Label2"), QStringLiteral("/src"));
        DialogScript::PushAnswer(QString());
        Click("Command6");
        QCOMPARE(Text("Label2"), QString());
        DialogScript::PushAnswer(QStringLiteral("/dst"));
        Click("Command7");
        QCOMPARE(DialogScript::Requests().back().title,
                 QStringLiteral("コピー先のフォルダを指定して下さい。"));
        QCOMPARE(Text("Label3"), QStringLiteral("/dst"));
    }

    void doubleClickThenSwap()
    {
        MakeTree(m_folder->Data(), {{"Home.dat", "/home/u/a,b\t/media/u/USB1/x\t02/12/08 10:00\tUSB1\r\n"}});
        Open();
        QCOMPARE(Rows(), QStringList{QStringLiteral("Home.dat|/home/u/a")});
        DoubleClickRow(0);
        QCOMPARE(Text("Text3"), QStringLiteral("Home"));
        // The folders come whole, even though the summary stops at the comma.
        QCOMPARE(Text("Label2"), QStringLiteral("/home/u/a,b"));
        QCOMPARE(Text("Label3"), QStringLiteral("/media/u/USB1/x"));
        QCOMPARE(Focus(), Find<QPushButton>(m_window.get(), "Command2"));
        Click("Command2");
        QCOMPARE(Text("Label2"), QStringLiteral("/media/u/USB1/x"));
        QCOMPARE(Text("Label3"), QStringLiteral("/home/u/a,b"));
        QCOMPARE(Text("Text3"), QString());
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }

    void swapNeedsBothFolders_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("no source") << ""
                                   << "/b"
                                   << "コピー元が未入力です"
                                   << "Command6";
        QTest::newRow("no target") << "/a"
                                   << ""
                                   << "コピー先が未入力です"
                                   << "Command7";
    }

    void swapNeedsBothFolders()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n");
        Open();
        Fill(QStringLiteral("Home"), source, target);
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        Click("Command2");
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList{message});
        QCOMPARE(Focus()->objectName(), focus);
        QCOMPARE(Text("Label2"), source);
        QCOMPARE(Text("Label3"), target);
        QCOMPARE(Text("Text3"), QStringLiteral("Home"));
    }

    void theListShowsOnlyItemsAndSurvivesBadFiles()
    {
        MakeTree(m_folder->Data(),
                 {{"Home.dat", "/a\t/b\t\t\r\n"},
                  {"notes.txt", "not an item"},
                  {"Empty.dat", ""},
                  {"Broken.dat/", ""},
                  {"Comma.dat", "/x,y\t/z\t\t\r\n"}});
        Open();
        QStringList rows = Rows();
        rows.sort();
        QCOMPARE(rows,
                 (QStringList{QStringLiteral("Comma.dat|/x"), QStringLiteral("Empty.dat|"),
                              QStringLiteral("Home.dat|/a\t/b\t\t")}));
        // The list is read again on request.
        WriteFile(m_folder->Data("Later.dat"), "/l\t/m\t\t\r\n");
        Click("Command3");
        QCOMPARE(Rows().size(), 4);
        auto* list = Find<QTreeWidget>(m_window.get(), "ListView1");
        QCOMPARE(list->headerItem()->text(0), QStringLiteral("Name"));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Subject"));
        QCOMPARE(list->columnWidth(0), TwipsToPixelsX(list, 1500));
        QCOMPARE(list->columnWidth(1), TwipsToPixelsX(list, 3400));
    }

    void deleteAsksFirst()
    {
        MakeTree(m_folder->Data(), {{"Home.dat", "h"}, {"Photos.dat", "p"}});
        Open();
        Click("Command4"); // nothing selected: nothing happens
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        SelectRow(RowOf(QStringLiteral("Home.dat")));
        MessageBoxes::PushAnswer(BoxAnswer::No);
        Click("Command4");
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList{QStringLiteral("Home.datを削除します。")});
        QCOMPARE(DataTree().size(), 2u);
        SelectRow(RowOf(QStringLiteral("Home.dat")));
        MessageBoxes::PushAnswer(BoxAnswer::Yes);
        Click("Command4");
        QCOMPARE(DataTree(), (Tree{{"Photos.dat", "p"}}));
        QCOMPARE(Rows(), QStringList{QStringLiteral("Photos.dat|p")});
    }

    // Names and paths that are not valid UTF-8 keep their bytes: the item is deleted, loaded back
    // and made again under its own name and folders, and the main program's path is written back
    // as it was read.
    void namesThatAreNotUtf8KeepTheirBytes()
    {
        const std::string program = "/opt/t\xE9/Parvane";
        m_folder->WriteIni("[Past]\r\ntext1=" + program + "\r\n");
        const std::string line = "/src\xE9\t/media/u/USB1/d\xFF\t\t\r\n";
        MakeTree(m_folder->Data(), {{"b\xE9.dat", line}, {"Copy.dat", line}});
        Open();
        QCOMPARE(m_window->MainProgramPath(), program);

        DoubleClickRow(RowOf(QString::fromUtf8("b\xE9.dat")));
        QCOMPARE(Text("Text3"), QString::fromUtf8("b\xE9"));
        MessageBoxes::PushAnswer(BoxAnswer::Yes);
        Click("Command8");
        QCOMPARE(MessageBoxes::ShownTexts().size(), 1);
        // Written again under its own name, with its own folders and the target's volume name.
        Tree expected{{"b\xE9.dat", "/src\xE9\t/media/u/USB1/d\xFF\t\tUSB1\r\n"}, {"Copy.dat", line}};
        QCOMPARE(DataTree(), expected);

        SelectRow(RowOf(QString::fromUtf8("b\xE9.dat")));
        MessageBoxes::PushAnswer(BoxAnswer::Yes);
        Click("Command4");
        QCOMPARE(MessageBoxes::ShownTexts().size(), 2);
        expected.erase("b\xE9.dat");
        QCOMPARE(DataTree(), expected);

        QSignalSpy spy(m_window.get(), &frmSet::mainProgramPathChanged);
        m_window->close();
        QCOMPARE(m_folder->IniStr("Past", "text1"), program);
        QCOMPARE(spy.value(0).value(0).toByteArray().toStdString(), program);
    }

    void theDesktopShortcutFollowsTheBox()
    {
        const std::string desktop = m_folder->Path("home/Desktop");
        MakeTree(desktop, {});
        // Restoring a ticked box neither creates nor deletes the shortcut.
        m_folder->WriteIni("[Past]\r\ncheck1=1\r\n");
        Open();
        auto* box = Find<QCheckBox>(m_window.get(), "Check1");
        QVERIFY(box->isChecked());
        QCOMPARE(ReadTree(desktop), Tree{});

        QTest::mouseClick(box, Qt::LeftButton);
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        const std::string shortcut = desktop + "/" + kShortcutName;
        QCOMPARE(ReadFile(shortcut), DesktopEntryText(m_folder->Folder() + "/Brennick"));
        struct stat info
        {
        };
        QCOMPARE(::stat(shortcut.c_str(), &info), 0);
        QVERIFY(info.st_mode & S_IXUSR);

        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(ReadTree(desktop), Tree{});
        // Unticking when there is no shortcut shows nothing.
        box->setChecked(true);
        ::unlink(shortcut.c_str());
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        m_window->close();
        QCOMPARE(m_folder->IniStr("Past", "check1"), std::string("0"));
    }

    void withoutADesktopFolderNothingIsCreated()
    {
        Open();
        QTest::mouseClick(Find<QCheckBox>(m_window.get(), "Check1"), Qt::LeftButton);
        QCOMPARE(ReadTree(m_folder->Path("home")), Tree{});
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }
};

QTEST_MAIN(SetupWindowTest)
#include "SetupWindowTest.moc"
