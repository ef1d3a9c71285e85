#include "CompanionFixture.h"
#include "TmpfsMount.h"
#include "WindowFinder.h"
#include "companion/ui/QtTranslation.h"
#include "companion/ui/Twips.h"
#include "companion/ui/frmPRVN.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace brennick;
using namespace brennick::test;
using ostrel::test::Find;
using ostrel::test::ItemTexts;
using ostrel::test::MakeTree;
using ostrel::test::ReadFile;
using ostrel::test::WriteFile;

namespace {

QPushButton* ItemButton(QWidget* window, int n)
{
    return Find<QPushButton>(window, QStringLiteral("Command2(%1)").arg(n));
}

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class LauncherTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CompanionFolder> m_folder;
    ostrel::test::FakeVolumes m_volumes;

    std::unique_ptr<frmPRVN> StartLauncher()
    {
        auto launcher = std::make_unique<frmPRVN>(m_folder->Folder(), m_volumes);
        launcher->Start();
        return launcher;
    }

    // A stand-in for the main program: a script that writes its arguments, one a line, to args.txt
    // and a log to velmor.log beside itself, after sleeping the seconds given.
    std::string FakeParvane(const std::string& folder, const std::string& sleep = "0")
    {
        std::string path = m_folder->Path(folder) + "/Parvane";
        WriteFile(path,
                  "#!/bin/sh\nhere=$(dirname \"$0\")\nsleep " + sleep
                      + "\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$here/args.txt\"\n"
                        "printf 'ran,%s\\r\\n\\r\\n' \"$(basename \"$1\")\" > \"$here/velmor.log\"\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }

    void WriteSettings(const std::string& parvane, const std::string& more = {})
    {
        m_folder->WriteIni("[Past]\r\ntext1=" + parvane + "\r\n" + more);
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
        QCOMPARE(DialogScript::UnexpectedCount(), 0);
        QCOMPARE(MessageBoxes::PendingCount(), 0);
        QCOMPARE(DialogScript::PendingCount(), 0);
        m_folder.reset();
    }

    void firstStartOpensTheSetUpWindowFirst()
    {
        ModalHandler modals;
        bool launcherVisible = true;
        frmPRVN* launcherSeen = nullptr;
        modals.Push([&](QWidget* modal) {
            launcherSeen = qobject_cast<frmPRVN*>(modal->parentWidget());
            launcherVisible = launcherSeen && launcherSeen->isVisible();
            DialogScript::PushAnswer(QStringLiteral("/opt/ostrel/Parvane"));
            QTest::mouseClick(Find<QPushButton>(modal, QStringLiteral("Command1")), Qt::LeftButton);
            modal->close();
        });
        auto launcher = StartLauncher();
        QCOMPARE(modals.Seen(), QStringList{QStringLiteral("frmSet")});
        QCOMPARE(launcherSeen, launcher.get());
        QVERIFY2(!launcherVisible, "the launcher was shown before the set-up window closed");
        QVERIFY(launcher->isVisible());
        QCOMPARE(Find<QLabel>(launcher.get(), QStringLiteral("Label2"))->text(),
                 QStringLiteral("/opt/ostrel/Parvane"));

        QCOMPARE(launcher->pos(),
                 QPoint(TwipsToPixelsX(launcher.get(), 4000), TwipsToPixelsY(launcher.get(), 4000)));
        QCOMPARE(launcher->pos(), QPoint(267, 267)); // 96 dots per inch: 15 twips a pixel
        QCOMPARE(launcher->width(), TwipsToPixelsX(launcher.get(), 3225));
        QCOMPARE(launcher->height(),
                 TwipsToPixelsY(launcher.get(), frmPRVN::kNormalHeight - frmPRVN::kNominalFrameHeight));
        QCOMPARE(launcher->windowTitle(), QStringLiteral("Brennick"));
        for (int n = 0; n < frmPRVN::kItemButtons; ++n) {
            QCOMPARE(ItemButton(launcher.get(), n)->text(), QString());
        }
        // 0 to 4 down the left column, 5 to 9 down the right one.
        QCOMPARE(ItemButton(launcher.get(), 5)->y(), ItemButton(launcher.get(), 0)->y());
        QVERIFY(ItemButton(launcher.get(), 5)->x() > ItemButton(launcher.get(), 4)->x());
        QVERIFY(ItemButton(launcher.get(), 4)->y() > ItemButton(launcher.get(), 3)->y());
        QCOMPARE(Find<QPushButton>(launcher.get(), QStringLiteral("Command5"))->text(),
                 QStringLiteral("終\n了"));
        // The set-up window wrote its settings when it closed.
        QCOMPARE(m_folder->IniStr("Past", "text1"), std::string("/opt/ostrel/Parvane"));
        QCOMPARE(m_folder->IniStr("Past", "check2"), std::string("1"));

        launcher->close();
        QCOMPARE(m_folder->IniStr("Pos", "left"), std::string("4000"));
        QCOMPARE(m_folder->IniStr("Pos", "top"), std::string("4000"));
        for (int n = 0; n < frmPRVN::kItemButtons; ++n) {
            QCOMPARE(m_folder->IniStr("Past", ("com2" + std::to_string(n)).c_str()), std::string());
        }
        QCOMPARE(modals.Unexpected(), 0);
    }

    void aBindingIsWrittenAsItsKeyAndRestored()
    {
        WriteSettings("/opt/Parvane");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}, {"Photos.dat", ""}});
        {
            auto launcher = StartLauncher();
            auto* list = Find<QListWidget>(launcher.get(), QStringLiteral("List1"));
            QStringList entries = ItemTexts(list);
            QCOMPARE(entries.takeLast(), QString());
            entries.sort();
            QCOMPARE(entries, (QStringList{QStringLiteral("Home"), QStringLiteral("Photos")}));
            QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command4")), Qt::LeftButton);
            list->setCurrentItem(list->findItems(QStringLiteral("Photos"), Qt::MatchExactly).constFirst());
            QTest::mouseClick(ItemButton(launcher.get(), 3), Qt::LeftButton);
            QCOMPARE(launcher->ItemCaption(3), std::string("Photos"));
            QCOMPARE(ItemButton(launcher.get(), 3)->text(), QStringLiteral("Photos"));
            // Nothing is written before the window closes; closing in registration mode saves too.
            QCOMPARE(m_folder->IniStr("Past", "com23"), std::string("<none>"));
            launcher->close();
        }
        QCOMPARE(m_folder->IniStr("Past", "com23"), std::string("Photos"));
        QCOMPARE(m_folder->IniStr("Past", "com22"), std::string());
        QCOMPARE(m_folder->IniStr("Past", "com24"), std::string());
        auto launcher = StartLauncher();
        for (int n = 0; n < frmPRVN::kItemButtons; ++n) {
            QCOMPARE(launcher->ItemCaption(n), n == 3 ? std::string("Photos") : std::string());
        }
    }

    void aMissingItemUnbindsItsButton_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("deleted") << "delete";
        QTest::newRow("renamed") << "rename";
        QTest::newRow("renamed to other letter case") << "case";
        QTest::newRow("data folder removed") << "nodata";
    }

    void aMissingItemUnbindsItsButton()
    {
        QFETCH(QString, change);
        WriteSettings("/opt/Parvane", "com20=Home\r\ncom21=Photos\r\ncom29=Gone\r\n");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}, {"Photos.dat", ""}});
        auto launcher = StartLauncher();
        // An item that was gone before the start is unbound at the first activation.
        QCOMPARE(launcher->ItemCaption(9), std::string());
        QCOMPARE(launcher->ItemCaption(0), std::string("Home"));
        QCOMPARE(launcher->ItemCaption(1), std::string("Photos"));

        const std::string home = m_folder->Data("Home.dat");
        if (change == "delete") {
            QCOMPARE(::unlink(home.c_str()), 0);
        } else if (change == "rename") {
            QCOMPARE(::rename(home.c_str(), m_folder->Data("Haus.dat").c_str()), 0);
        } else if (change == "case") {
            QCOMPARE(::rename(home.c_str(), m_folder->Data("home.dat").c_str()), 0);
        } else {
            ostrel::test::RemoveTree(m_folder->Data());
        }
        // Nothing changes until the launcher is activated again: here, when the log viewer closes.
        QCOMPARE(launcher->ItemCaption(0), std::string("Home"));
        ModalHandler modals;
        modals.Push([](QWidget* modal) { modal->close(); });
        QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command6")), Qt::LeftButton);
        QCOMPARE(modals.Seen(), QStringList{QStringLiteral("frmLog")});
        QCOMPARE(launcher->ItemCaption(0), std::string());
        QCOMPARE(launcher->ItemCaption(1), change == "nodata" ? std::string() : std::string("Photos"));
        QCOMPARE(ItemTexts(Find<QListWidget>(launcher.get(), QStringLiteral("List1"))).constLast(),
                 QString());
    }

    void registrationModeSwitchesTheButtonsAndTheHeight()
    {
        WriteSettings("/opt/Parvane", "com24=Home\r\ncom25=Home\r\n");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}});
        auto launcher = StartLauncher();
        const QStringList commands{QStringLiteral("Command1"), QStringLiteral("Command4"),
                                   QStringLiteral("Command6")};
        auto enabled = [&] {
            QList<bool> states;
            for (const QString& name : commands) {
                states << Find<QPushButton>(launcher.get(), name)->isEnabled();
            }
            return states;
        };
        QCOMPARE(launcher->RegMode(), 0);
        QCOMPARE(enabled(), (QList<bool>{true, true, true}));

        QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command4")), Qt::LeftButton);
        QCOMPARE(launcher->RegMode(), 1);
        QCOMPARE(enabled(), (QList<bool>{false, false, false}));
        QCOMPARE(launcher->height(),
                 TwipsToPixelsY(launcher.get(), frmPRVN::kRegistrationHeight - frmPRVN::kNominalFrameHeight));
        // The path, the list and the hint under it are uncovered now.
        QVERIFY(Find<QLabel>(launcher.get(), QStringLiteral("Label2"))->geometry().bottom()
                < launcher->height());
        auto* hint = Find<QLabel>(launcher.get(), QStringLiteral("Label1"));
        QVERIFY(hint->geometry().top() + hint->fontMetrics().height() <= launcher->height());

        // Disabled buttons take no click: no set-up window, no log viewer.
        ModalHandler modals;
        for (const QString& name : commands) {
            QTest::mouseClick(Find<QPushButton>(launcher.get(), name), Qt::LeftButton);
        }
        QTest::qWait(50);
        QCOMPARE(modals.Seen(), QStringList());

        // With the empty entry selected, or nothing selected, a click unbinds.
        auto* list = Find<QListWidget>(launcher.get(), QStringLiteral("List1"));
        list->setCurrentRow(list->count() - 1);
        QTest::mouseClick(ItemButton(launcher.get(), 4), Qt::LeftButton);
        QCOMPARE(launcher->ItemCaption(4), std::string());
        list->clearSelection();
        QTest::mouseClick(ItemButton(launcher.get(), 5), Qt::LeftButton);
        QCOMPARE(launcher->ItemCaption(5), std::string());
        // A click in registration mode never runs anything.
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());

        QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command5")), Qt::LeftButton);
        QCOMPARE(launcher->RegMode(), 0);
        QCOMPARE(enabled(), (QList<bool>{true, true, true}));
        QCOMPARE(launcher->height(),
                 TwipsToPixelsY(launcher.get(), frmPRVN::kNormalHeight - frmPRVN::kNominalFrameHeight));
        // Normal mode shows the buttons only.
        QVERIFY(Find<QLabel>(launcher.get(), QStringLiteral("Label2"))->geometry().top()
                >= launcher->height());
        QVERIFY(Find<QPushButton>(launcher.get(), QStringLiteral("Command6"))->geometry().bottom()
                < launcher->height());
    }

    void theMainProgramIsTestedBeforeTheBinding_data()
    {
        QTest::addColumn<bool>("located");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("message");
        QTest::newRow("no program, unbound") << false << 2 << "PRVNの場所が指定されていません";
        QTest::newRow("no program, bound") << false << 0 << "PRVNの場所が指定されていません";
        QTest::newRow("program, unbound") << true << 2 << "アイテムが指定されていません";
    }

    void theMainProgramIsTestedBeforeTheBinding()
    {
        QFETCH(bool, located);
        QFETCH(int, button);
        QFETCH(QString, message);
        WriteSettings(located ? "/opt/Parvane" : "", "com20=Home\r\n");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}});
        ModalHandler modals;
        if (!located) {
            modals.Push([](QWidget* modal) { modal->close(); });
        }
        auto launcher = StartLauncher();
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        QTest::mouseClick(ItemButton(launcher.get(), button), Qt::LeftButton);
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList{message});
        QCOMPARE(MessageBoxes::ShownBoxes().front().buttons, BoxButtons::Ok);
        if (located) {
            QCOMPARE(launcher->focusWidget(), Find<QPushButton>(launcher.get(), QStringLiteral("Command4")));
        }
        QCOMPARE(modals.Unexpected(), 0);
    }

    void check2DecidesWhetherTheLogOpens_data()
    {
        QTest::addColumn<QString>("check2");
        QTest::addColumn<bool>("opens");
        QTest::newRow("absent") << "" << false;
        QTest::newRow("1") << "check2=1\r\n" << true;
        QTest::newRow("0") << "check2=0\r\n" << false;
        QTest::newRow("2") << "check2=2\r\n" << false;
    }

    void check2DecidesWhetherTheLogOpens()
    {
        QFETCH(QString, check2);
        QFETCH(bool, opens);
        std::string parvane = FakeParvane("");
        WriteSettings(parvane, "com20=Home\r\n" + check2.toStdString());
        MakeTree(m_folder->Data(), {{"Home.dat", ""}});
        auto launcher = StartLauncher();
        ModalHandler modals;
        QStringList shown;
        modals.Push([&](QWidget* modal) {
            shown = ItemTexts(Find<QListWidget>(modal, QStringLiteral("List1")));
            modal->close();
        });
        QTest::mouseClick(ItemButton(launcher.get(), 0), Qt::LeftButton);
        QCOMPARE(ReadFile(m_folder->Path("args.txt")), m_folder->Data("Home.dat") + "\n/A\n");
        if (opens) {
            QCOMPARE(modals.Seen(), QStringList{QStringLiteral("frmLog")});
            QCOMPARE(shown, (QStringList{QStringLiteral("ran"), QStringLiteral("Home.dat"), QString()}));
        } else {
            QTest::qWait(50);
            QCOMPARE(modals.Seen(), QStringList());
        }
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }

    void pathsWithBlanksArePassedWhole()
    {
        std::string parvane = FakeParvane("my tools");
        WriteSettings(parvane, "com27=My Photos 2\r\n");
        MakeTree(m_folder->Data(), {{"My Photos 2.dat", ""}});
        auto launcher = StartLauncher();
        QTest::mouseClick(ItemButton(launcher.get(), 7), Qt::LeftButton);
        QCOMPARE(ReadFile(m_folder->Path("my tools/args.txt")), m_folder->Data("My Photos 2.dat") + "\n/A\n");
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }

    void theWaitSleepsKeepsPaintingAndTakesNoInput()
    {
        std::string parvane = FakeParvane("", "1.5");
        WriteSettings(parvane, "com20=Home\r\ncom21=Home\r\n");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}});
        auto launcher = StartLauncher();

        struct PaintCounter : QObject
        {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                paints += event->type() == QEvent::Paint;
                return false;
            }
        } counter;
        launcher->installEventFilter(&counter);

        bool waiting = false;
        bool closed = true;
        int paintsDuringWait = 0;
        bool waitCursor = false;
        QStringList enabledDuringWait;
        QTimer::singleShot(300, launcher.get(), [&] {
            waiting = launcher->Waiting();
            waitCursor =
                QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            for (QPushButton* button : launcher->findChildren<QPushButton*>()) {
                if (button->isEnabled()) {
                    enabledDuringWait << button->objectName();
                }
            }
            // A click on a second item, the log button and the keyboard: none may be taken.
            QTest::mouseClick(ItemButton(launcher.get(), 1), Qt::LeftButton);
            QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command6")), Qt::LeftButton);
            QTest::keyClick(launcher.get(), Qt::Key_Space);
            closed = launcher->close();
            counter.paints = 0;
            launcher->update();
        });
        QTimer::singleShot(700, launcher.get(), [&] { paintsDuringWait = counter.paints; });

        ModalHandler modals;
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = CpuSeconds();
        QTest::mouseClick(ItemButton(launcher.get(), 0), Qt::LeftButton);
        const double cpu = CpuSeconds() - cpuBefore;
        const qint64 elapsed = clock.elapsed();

        QVERIFY(elapsed >= 1400);
        QVERIFY(waiting);
        // The wait shows: the wait cursor and every button greyed; afterwards all is as before.
        QVERIFY(waitCursor);
        QCOMPARE(enabledDuringWait, QStringList());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        for (QPushButton* button : launcher->findChildren<QPushButton*>()) {
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
        }
        QVERIFY2(!closed, "the window closed under the wait");
        QVERIFY(launcher->isVisible());
        QVERIFY2(paintsDuringWait > 0, "the window was not painted during the wait");
        QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("the wait used %1 s of processor time").arg(cpu)));
        QVERIFY(!launcher->Waiting());
        // Only the one run happened, and no input surfaced after it.
        QTest::qWait(100);
        QCOMPARE(modals.Seen(), QStringList());
        QCOMPARE(ReadFile(m_folder->Path("args.txt")), m_folder->Data("Home.dat") + "\n/A\n");
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
    }

    void aProgramThatCannotStartIsReported_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("not executable") << "plain";
        QTest::newRow("a folder") << "folder";
    }

    void aProgramThatCannotStartIsReported()
    {
        QFETCH(QString, kind);
        std::string program = m_folder->Path("tools/Parvane");
        if (kind == "plain") {
            WriteFile(program, "not a program");
        } else if (kind == "folder") {
            MakeTree(program, {});
        }
        WriteSettings(program, "com20=Home\r\ncheck2=1\r\n");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}});
        auto launcher = StartLauncher();
        ModalHandler modals;
        QElapsedTimer clock;
        clock.start();
        MessageBoxes::PushAnswer(BoxAnswer::Ok);
        QTest::mouseClick(ItemButton(launcher.get(), 0), Qt::LeftButton);
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(
            MessageBoxes::ShownTexts(),
            QStringList{QStringLiteral("PRVNを起動できませんでした\r\n") + QString::fromStdString(program)});
        QVERIFY(!launcher->Waiting());
        QTest::qWait(50);
        // No log viewer after a run that never started.
        QCOMPARE(modals.Seen(), QStringList());
    }

    void thePositionComesBackAsItWasRead_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QPoint>("pixels");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("top");
        QTest::newRow("defaults") << "" << QPoint(267, 267) << "4000"
                                  << "4000";
        QTest::newRow("negative") << "left=-300\r\ntop=-45\r\n"
                                  << QPoint(-20, -3) << "-300"
                                  << "-45";
        QTest::newRow("not on the pixel grid") << "left=1001\r\ntop=7\r\n"
                                               << QPoint(67, 0) << "1001"
                                               << "7";
    }

    void thePositionComesBackAsItWasRead()
    {
        QFETCH(QString, settings);
        QFETCH(QPoint, pixels);
        QFETCH(QString, left);
        QFETCH(QString, top);
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n[Pos]\r\n" + settings.toStdString());
        auto launcher = StartLauncher();
        QCOMPARE(launcher->pos(), pixels);
        launcher->close();
        QCOMPARE(QString::fromStdString(m_folder->IniStr("Pos", "left")), left);
        QCOMPARE(QString::fromStdString(m_folder->IniStr("Pos", "top")), top);
    }

    // A position from which the title bar would lie on no screen is brought onto the nearest
    // screen, as far as needed to show the whole window, and stored so at the close.
    void aPositionOffEveryScreenIsBroughtBack_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("edge"); // where the window lands
        QTest::newRow("below, top held to 16 bits") << "left=0\r\ntop=40000\r\n"
                                                    << "bottom";
        QTest::newRow("above") << "left=0\r\ntop=-99999\r\n"
                               << "top";
        QTest::newRow("right") << "left=99999\r\ntop=4000\r\n"
                               << "right";
        QTest::newRow("left") << "left=-99999\r\ntop=4000\r\n"
                              << "left";
        QTest::newRow("title bar just off the top") << "left=0\r\ntop=-400\r\n"
                                                    << "top";
    }

    void aPositionOffEveryScreenIsBroughtBack()
    {
        QFETCH(QString, settings);
        QFETCH(QString, edge);
        m_folder->WriteIni("[Past]\r\ntext1=/opt/Parvane\r\n[Pos]\r\n" + settings.toStdString());
        auto launcher = StartLauncher();
        const QRect area = launcher->screen()->availableGeometry();
        const QSize outer(launcher->width(), TwipsToPixelsY(launcher.get(), frmPRVN::kNormalHeight));
        const QPoint expected = edge == "bottom" ? QPoint(0, area.bottom() + 1 - outer.height())
            : edge == "top"                      ? QPoint(0, area.top())
            : edge == "right"                    ? QPoint(area.right() + 1 - outer.width(), 267)
                                                 : QPoint(area.left(), 267);
        QCOMPARE(launcher->pos(), expected);
        QVERIFY(area.contains(QRect(launcher->pos(), outer)));
        launcher->close();
        QCOMPARE(m_folder->IniStr("Pos", "left"),
                 std::to_string(PixelsToTwipsX(launcher.get(), expected.x())));
        QCOMPARE(m_folder->IniStr("Pos", "top"),
                 std::to_string(PixelsToTwipsY(launcher.get(), expected.y())));
    }

    // Item names are the bytes of their file names: a name that is not UTF-8 is listed, bound,
    // stored, restored and run as those bytes, and so is an item whose extension is in capitals.
    void namesAreBytesFromTheListToTheRun_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("not UTF-8") << QByteArray("b\xE9\xFF.dat") << QByteArray("b\xE9\xFF");
        QTest::newRow("capitals") << QByteArray("Up.DAT") << QByteArray("Up");
    }

    void namesAreBytesFromTheListToTheRun()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, name);
        MakeTree(m_folder->Path("tools\xE9"), {});
        const std::string parvane = FakeParvane("tools\xE9");
        WriteSettings(parvane);
        // The one valid name that the wrong conversion would produce is there too, as a decoy.
        MakeTree(m_folder->Data(), {{file.toStdString(), ""}, {QString::fromUtf8(file).toStdString(), ""}});
        {
            auto launcher = StartLauncher();
            QCOMPARE(Find<QLabel>(launcher.get(), QStringLiteral("Label2"))->text(),
                     QString::fromStdString(parvane));
            auto* list = Find<QListWidget>(launcher.get(), QStringLiteral("List1"));
            QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command4")), Qt::LeftButton);
            const QList<QListWidgetItem*> shown =
                list->findItems(QString::fromUtf8(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
            QVERIFY(!shown.isEmpty());
            // Of two entries that look alike, the one with the bytes is bound.
            for (QListWidgetItem* entry : shown) {
                list->setCurrentItem(entry);
                QTest::mouseClick(ItemButton(launcher.get(), 0), Qt::LeftButton);
                if (launcher->ItemCaption(0) == name.toStdString()) {
                    break;
                }
            }
            QCOMPARE(launcher->ItemCaption(0), name.toStdString());
            launcher->close();
        }
        QCOMPARE(m_folder->IniStr("Past", "com20"), name.toStdString());
        QCOMPARE(m_folder->IniStr("Past", "text1"), parvane);

        auto launcher = StartLauncher();
        QCOMPARE(launcher->ItemCaption(0), name.toStdString());
        QCOMPARE(launcher->ProgramPath(), parvane);
        QTest::mouseClick(ItemButton(launcher.get(), 0), Qt::LeftButton);
        QCOMPARE(MessageBoxes::ShownTexts(), QStringList());
        QCOMPARE(ReadFile(m_folder->Path("tools\xE9/args.txt")),
                 m_folder->Data(file.toStdString()) + "\n/A\n");
    }

    void aMovedWindowStoresItsNewPosition()
    {
        WriteSettings("/opt/Parvane");
        auto launcher = StartLauncher();
        launcher->move(150, 90);
        launcher->close();
        QCOMPARE(m_folder->IniStr("Pos", "left"), std::string("2250"));
        QCOMPARE(m_folder->IniStr("Pos", "top"), std::string("1350"));
    }

    void theSetUpWindowsPathReachesTheLabel()
    {
        WriteSettings("/opt/old/Parvane");
        MakeTree(m_folder->Data(), {{"Home.dat", ""}});
        auto launcher = StartLauncher();
        ModalHandler modals;
        modals.Push([](QWidget* modal) {
            Find<QPlainTextEdit>(modal, QStringLiteral("Text1"))
                ->setPlainText(QStringLiteral("/opt/new/Parvane"));
            modal->close();
        });
        // An item made meanwhile shows in the launcher's list once the set-up window closes.
        WriteFile(m_folder->Data("New.dat"), "");
        QTest::mouseClick(Find<QPushButton>(launcher.get(), QStringLiteral("Command1")), Qt::LeftButton);
        QCOMPARE(modals.Seen(), QStringList{QStringLiteral("frmSet")});
        QCOMPARE(Find<QLabel>(launcher.get(), QStringLiteral("Label2"))->text(),
                 QStringLiteral("/opt/new/Parvane"));
        QCOMPARE(ItemTexts(Find<QListWidget>(launcher.get(), QStringLiteral("List1"))),
                 (QStringList{QStringLiteral("Home"), QStringLiteral("New"), QString()}));
    }

    // A settings file full of garbage reads as a first start. A read-only stick is not written at
    // all: the launcher works from the user's own settings file instead, as an installed one does.
    // Neither ends anything.
    void unusableSettingsEndNothing_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("garbage") << false;
        QTest::newRow("read-only file system") << true;
    }

    void unusableSettingsEndNothing()
    {
        QFETCH(bool, readOnly);
        std::unique_ptr<ostrel::test::TmpfsMount> mount;
        std::string noise;
        std::string userIni;
        ModalHandler modals;
        if (readOnly) {
            if (!ostrel::test::IsRoot()) {
                QSKIP("mounting a tmpfs needs root");
            }
            mount = std::make_unique<ostrel::test::TmpfsMount>(m_folder->Folder(), "256k");
            if (!mount->Mounted()) {
                QSKIP("tmpfs can't be mounted here");
            }
            WriteSettings("/opt/stick/Parvane");
            MakeTree(m_folder->Data(), {{"Home.dat", ""}});
            QCOMPARE(::mount(nullptr, m_folder->Folder().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                     0);
            userIni = GetIniPath(m_folder->Folder());
            QCOMPARE(userIni, m_folder->Path("home/.config/ostrel/iniBK.ini"));
            ostrel::test::WriteFile(userIni,
                                    "[Past]\r\ntext1=/opt/Parvane\r\n[Pos]\r\nleft=1500\r\ntop=750\r\n");
        } else {
            for (int i = 0; i < 8192; ++i) {
                noise.push_back(static_cast<char>((i * 7919 + i / 256) & 0xff));
            }
            m_folder->WriteIni(noise);
            // No main program is known, so the set-up window opens first; it is closed unchanged.
            modals.Push([](QWidget* modal) { modal->close(); });
        }
        const ostrel::test::Tree before = ostrel::test::ReadTree(m_folder->Folder());

        auto launcher = StartLauncher();
        QVERIFY(launcher->isVisible());
        QCOMPARE(modals.Seen(), readOnly ? QStringList() : QStringList{QStringLiteral("frmSet")});
        QCOMPARE(launcher->pos(), readOnly ? QPoint(100, 50) : QPoint(267, 267));
        QCOMPARE(Find<QLabel>(launcher.get(), QStringLiteral("Label2"))->text(),
                 readOnly ? QStringLiteral("/opt/Parvane") : QString());
        launcher->move(30, 60);
        launcher->close();
        QVERIFY(!launcher->isVisible());
        QVERIFY(MessageBoxes::ShownTexts().isEmpty());
        QCOMPARE(modals.Unexpected(), 0);
        if (readOnly) {
            QVERIFY(ostrel::test::ReadTree(m_folder->Folder()) == before);
            QCOMPARE(GetIniStr(userIni, "Pos", "left", ""), std::string("450"));
        } else {
            // The position is added; every byte that was there stays.
            QVERIFY(ReadFile(m_folder->Ini()).starts_with(noise));
            QCOMPARE(m_folder->IniStr("Pos", "left"), std::string("450"));
        }
    }

    // Qt's own buttons and dialogs speak Japanese like the rest of the companion. Last, since
    // the translation stays installed for the rest of the process.
    void qtsOwnTextsAreJapanese()
    {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm")) {
            QSKIP("Qt's Japanese translation is not installed (qt6-translations-l10n)");
        }
        QVERIFY(InstallQtTranslation());
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        for (auto [button, english] :
             {std::pair{QMessageBox::Yes, "&Yes"}, std::pair{QMessageBox::No, "&No"}}) {
            const QString text = box.button(button)->text();
            QVERIFY2(text != QLatin1String(english), qPrintable(text));
            QVERIFY2(text.contains(QRegularExpression("[\\x{3040}-\\x{30FF}\\x{4E00}-\\x{9FFF}]")),
                     qPrintable(text));
        }
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        QCOMPARE(dialog.labelText(QFileDialog::Reject), QStringLiteral("キャンセル"));
    }
};

QTEST_MAIN(LauncherTest)
#include "LauncherTest.moc"
