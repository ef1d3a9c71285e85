#include "DialogDriver.h"
#include "FakeVolumes.h"
#include "TestTree.h"
#include "WindowFinder.h"
#include "ui/MessageBoxes.h"
#include "ui/TfdlgCopySet.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

using namespace ostrel;
using ostrel::test::Find;

class CopySetDialogTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<test::FakeVolumes> m_volumes;
    QString m_oldCurrent;
    std::string m_driveA;
    std::string m_driveB;
    std::string m_desktop;

    std::string Path(const std::string& relative) const
    {
        return m_dir->path().toStdString() + "/" + relative;
    }

    std::unique_ptr<TfdlgCopySet> MakeDialog(const std::string& source = {}, const std::string& target = {})
    {
        return std::make_unique<TfdlgCopySet>(
            *m_volumes, [this](const std::string& path) { return m_volumes->VolumeName(path); },
            "コピーセットの追加", source, target);
    }

    // The path a folder label stands for: its tool tip holds it whole, whereas its text is the
    // path fitted to the label's width and so depends on how long the temporary folder's path is.
    static QString LabelPath(QWidget& dialog, const char* name)
    {
        return Find<QLabel>(dialog, name)->toolTip();
    }

    static QString Text(const std::string& text) { return QString::fromStdString(text); }

    // The folders shown at the top level of a tree.
    static QStringList TopLevel(QWidget& dialog, const char* name)
    {
        auto* tree = Find<QTreeView>(dialog, name);
        QStringList names;
        for (int row = 0; row < tree->model()->rowCount(tree->rootIndex()); ++row) {
            names << tree->model()->index(row, 0, tree->rootIndex()).data().toString();
        }
        return names;
    }

    // The folders below the top-level folder of a tree, once the tree has read them.
    static QStringList Children(QWidget& dialog, const char* name)
    {
        auto* tree = Find<QTreeView>(dialog, name);
        const QModelIndex root = tree->model()->index(0, 0, tree->rootIndex());
        QStringList names;
        for (int row = 0; row < tree->model()->rowCount(root); ++row) {
            names << tree->model()->index(row, 0, root).data().toString();
        }
        names.sort();
        return names;
    }

    static int DriveIndex(QWidget& dialog, const char* name, const std::string& drive)
    {
        return Find<QComboBox>(dialog, name)->findData(QByteArray::fromStdString(drive));
    }

private slots:
    void init()
    {
        // A folder of its own for each test.
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/csd-XXXXXX");
        QVERIFY(m_dir->isValid());
        m_driveA = Path("driveA");
        m_driveB = Path("driveB");
        m_desktop = Path("home/Desktop");
        test::MakeTree(m_driveA + "/work", {{"file.txt", "x"}});
        test::MakeTree(m_driveA + "/src/inner", {});
        test::MakeTree(m_driveB + "/backup", {});
        test::MakeTree(m_desktop, {});
        qputenv("HOME", (m_dir->path() + "/home").toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_dir->path() + "/config").toUtf8());

        m_volumes = std::make_unique<test::FakeVolumes>();
        m_volumes->mountedDrives = {"/", m_driveA, m_driveB};
        m_volumes->driveParts = {{m_driveA, m_driveA}, {m_driveB, m_driveB}};
        m_volumes->labels = {{m_driveB, "BACKUP"}};
        m_oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Text(m_driveA + "/work")));

        MessageBoxes::SetScripted(true);
        MessageBoxes::Reset();
    }

    void cleanup()
    {
        QDir::setCurrent(m_oldCurrent);
        QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
        QCOMPARE(MessageBoxes::PendingCount(), 0);
        m_dir.reset();
    }

    void addOpensBothTreesAtTheCurrentDrive()
    {
        auto dialog = MakeDialog();
        QVERIFY(MessageBoxes::Shown().empty());
        QCOMPARE(dialog->size(), QSize(546, 326));
        auto* drives = Find<QComboBox>(*dialog, "drvSource");
        QCOMPARE(drives->count(), 3);
        QCOMPARE(drives->itemText(2), Text(m_driveB + " [BACKUP]"));
        for (const char* name : {"drvSource", "drvTarget"}) {
            QCOMPARE(Find<QComboBox>(*dialog, name)->currentIndex(), DriveIndex(*dialog, name, m_driveA));
        }
        QCOMPARE(dialog->SelectedSource(), m_driveA);
        QCOMPARE(dialog->SelectedTarget(), m_driveA);
        QCOMPARE(LabelPath(*dialog, "lblSource"), Text(m_driveA));
        QCOMPARE(LabelPath(*dialog, "lblTarget"), Text(m_driveA));
        QCOMPARE(TopLevel(*dialog, "dirSource"), QStringList{"driveA"});
        for (const char* name : {"dirSource", "dirTarget"}) {
            QCOMPARE(Find<QTreeView>(*dialog, name)->size(), QSize(249, 209));
        }
    }

    void missingFoldersAreReported_data()
    {
        QTest::addColumn<bool>("sourceThere");
        QTest::addColumn<bool>("targetThere");
        QTest::addColumn<QString>("message");

        QTest::newRow("source gone") << false << true << "コピー元のフォルダ 'SRC' は見つかりませんでした！";
        QTest::newRow("target gone") << true << false << "コピー先のフォルダ 'DST' は見つかりませんでした！";
        QTest::newRow("both gone") << false << false << "コピー元のフォルダ 'SRC' は見つかりませんでした！";
        QTest::newRow("both there") << true << true << QString();
    }

    void missingFoldersAreReported()
    {
        QFETCH(bool, sourceThere);
        QFETCH(bool, targetThere);
        QFETCH(QString, message);
        const std::string source = sourceThere ? m_driveA + "/src" : m_driveA + "/gone";
        const std::string target = targetThere ? m_driveB + "/backup" : m_driveB + "/gone";
        if (!message.isEmpty()) {
            MessageBoxes::PushAnswer(MessageAnswer::Ok);
        }
        auto dialog = MakeDialog(source, target);
        message.replace("SRC", Text(source)).replace("DST", Text(target));

        QStringList shown;
        for (const Message& box : MessageBoxes::Shown()) {
            shown << Text(box.text);
            QCOMPARE(box.icon, MessageIcon::Exclamation);
            QCOMPARE(box.buttons, MessageButtons::Ok);
        }
        QCOMPARE(shown, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(MessageBoxes::BeepCount(), static_cast<int>(shown.size()));
        // After a message both trees stand at the top of the file system, from where every drive
        // can be reached; otherwise they stand at the drive. The input folders are never selected
        // for the user.
        const std::string root = message.isEmpty() ? m_driveA : "/";
        QCOMPARE(dialog->SelectedSource(), root);
        QCOMPARE(dialog->SelectedTarget(), root);
        QCOMPARE(LabelPath(*dialog, "lblSource"), Text(root));
        if (message.isEmpty()) {
            return;
        }
        // Choosing the drive the box shows already takes its tree there.
        auto* drive = Find<QComboBox>(*dialog, "drvSource");
        QCOMPARE(drive->currentData().toByteArray().toStdString(), m_driveA);
        drive->showPopup();
        QTRY_VERIFY(drive->view()->isVisible());
        drive->view()->setCurrentIndex(drive->model()->index(drive->currentIndex(), 0));
        QTest::keyClick(drive->view(), Qt::Key_Return);
        QCOMPARE(dialog->SelectedSource(), m_driveA);
        QCOMPARE(dialog->SelectedTarget(), std::string("/"));
    }

    // The trees show the folders' icons, also where the desktop has no icon theme.
    void foldersHaveIcons()
    {
        auto dialog = MakeDialog();
        auto* tree = Find<QTreeView>(*dialog, "dirSource");
        const QModelIndex root = tree->currentIndex();
        QVERIFY(root.isValid());
        QVERIFY(!tree->model()->data(root, Qt::DecorationRole).value<QIcon>().isNull());
    }

    // Whether a tree has the keyboard shows: its selected folder is drawn otherwise without it.
    void aFocusedTreeLooksFocused()
    {
        auto dialog = MakeDialog();
        dialog->show();
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        auto* tree = Find<QTreeView>(*dialog, "dirSource");
        Find<QWidget>(*dialog, "cmdOK")->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!tree->hasFocus());
        const QImage without = tree->grab().toImage();
        tree->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(tree->hasFocus());
        QVERIFY(tree->grab().toImage() != without);
    }

    void choosingADriveReRootsOnlyThatTree()
    {
        auto dialog = MakeDialog();
        auto* target = Find<QComboBox>(*dialog, "drvTarget");
        target->setCurrentIndex(DriveIndex(*dialog, "drvTarget", m_driveB));
        QCOMPARE(dialog->SelectedTarget(), m_driveB);
        QCOMPARE(LabelPath(*dialog, "lblTarget"), Text(m_driveB));
        QCOMPARE(TopLevel(*dialog, "dirTarget"), QStringList{"driveB"});
        QCOMPARE(dialog->SelectedSource(), m_driveA);
        QCOMPARE(TopLevel(*dialog, "dirSource"), QStringList{"driveA"});

        Find<QComboBox>(*dialog, "drvSource")->setCurrentIndex(DriveIndex(*dialog, "drvSource", "/"));
        QCOMPARE(dialog->SelectedSource(), std::string("/"));
        QCOMPARE(LabelPath(*dialog, "lblSource"), QString("/"));
        QCOMPARE(TopLevel(*dialog, "dirSource"), QStringList{"/"});
        QCOMPARE(dialog->SelectedTarget(), m_driveB);
    }

    void theTreesShowFoldersOnly()
    {
        auto dialog = MakeDialog();
        test::MakeTree(m_driveA + "/.hidden", {});
        QTRY_COMPARE(Children(*dialog, "dirSource"), QStringList({"src", "work"}));
    }

    void labelsAreShortenedToTheirWidth_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("drive");
        QTest::addColumn<QString>("starts");
        QTest::addColumn<QString>("ends");
        QTest::addColumn<QString>("folder"); // the folder name that gives way

        const QString deep = "/media/alice/USB1/" + QString("folder/").repeated(30) + "last";
        const QString longDrive = "/media/alice/" + QString("L").repeated(60);
        QTest::newRow("fits") << "/media/alice/USB1/a/b"
                              << "/media/alice/USB1/"
                              << "/media/alice/USB1/a/b"
                              << "/media/alice/USB1/a/b" << QString();
        QTest::newRow("leading folders give way") << deep << "/media/alice/USB1/"
                                                  << "/media/alice/USB1/.../"
                                                  << "/folder/last"
                                                  << "folder/";
        QTest::newRow("the drive goes last") << longDrive + "/one/two" << longDrive + "/"
                                             << ".../"
                                             << "/two" << QString();
        QTest::newRow("right below a wide drive") << longDrive + "/name" << longDrive + "/"
                                                  << ".../name"
                                                  << ".../name" << QString();
        QTest::newRow("root drive") << "/" + QString("folder/").repeated(30) + "last"
                                    << "/"
                                    << "/.../"
                                    << "/folder/last"
                                    << "folder/";
        QTest::newRow("a name too long alone") << "/m/" + QString("N").repeated(300) << "/m/"
                                               << ".../N" << QString(QChar(0x2026)) << QString();
        QTest::newRow("Japanese names")
            << "/media/alice/USB1/" + QString("日本語のフォルダ/").repeated(12) + "最後"
            << "/media/alice/USB1/"
            << "/media/alice/USB1/.../"
            << "/最後"
            << "日本語のフォルダ/";
    }

    void labelsAreShortenedToTheirWidth()
    {
        QFETCH(QString, path);
        QFETCH(QString, drive);
        QFETCH(QString, starts);
        QFETCH(QString, ends);
        QFETCH(QString, folder);
        auto dialog = MakeDialog();
        const QFontMetrics metrics = Find<QLabel>(*dialog, "lblSource")->fontMetrics();
        const QString text = TfdlgCopySet::FitPath(path.toStdString(), drive.toStdString(), metrics, 249);
        QVERIFY2(metrics.horizontalAdvance(text) <= 249, qPrintable(text));
        QVERIFY2(text.startsWith(starts), qPrintable(text));
        QVERIFY2(text.endsWith(ends), qPrintable(text));
        // Only as much is cut as needed: the text with one more folder would not have fitted.
        if (!folder.isEmpty()) {
            QVERIFY(metrics.horizontalAdvance(text + folder) > 249);
        }
    }

    void aFolderRightBelowTheDriveLosesTheDriveWhole()
    {
        auto dialog = MakeDialog();
        const QFontMetrics metrics = Find<QLabel>(*dialog, "lblSource")->fontMetrics();
        // The longest name that fits without the drive but not with it.
        const std::string drive = "/media/alice/USB1/";
        std::string name = "n";
        while (metrics.horizontalAdvance(Text(drive + name + "n")) <= 249) {
            name += "n";
        }
        name += "n";
        QCOMPARE(TfdlgCopySet::FitPath(drive + name, drive, metrics, 249), Text(".../" + name));
    }

    void aDeepFolderShowsShortenedInItsLabel()
    {
        std::string deep = m_driveA;
        for (int i = 0; i < 12; ++i) {
            deep += "/folder_" + std::to_string(i);
        }
        test::MakeTree(deep, {});
        auto dialog = MakeDialog();
        QVERIFY(test::SelectFolder(*dialog, "dirSource", Text(deep)));
        QLabel* label = Find<QLabel>(*dialog, "lblSource");
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= 249);
        QCOMPARE(label->text(), TfdlgCopySet::FitPath(deep, m_driveA + "/", label->fontMetrics(), 249));
        QVERIFY(label->text().contains(".../"));
        QVERIFY(label->text().endsWith("/folder_11"));
        QCOMPARE(label->toolTip(), Text(deep));
        QCOMPARE(label->width(), 249);
        QCOMPARE(dialog->SelectedSource(), deep);
    }

    void okReturnsTheFoldersAndTheTargetVolume_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("volume");
        QTest::newRow("labelled drive") << "driveB/backup"
                                        << "BACKUP";
        QTest::newRow("drive without a label") << "driveA/work"
                                               << "";
        QTest::newRow("same folder twice") << "driveA/src"
                                           << "";
    }

    void okReturnsTheFoldersAndTheTargetVolume()
    {
        QFETCH(QString, target);
        QFETCH(QString, volume);
        auto dialog = MakeDialog();
        const std::string targetPath = Path(target.toStdString());
        auto* drive = Find<QComboBox>(*dialog, "drvTarget");
        drive->setCurrentIndex(DriveIndex(*dialog, "drvTarget", m_volumes->DrivePart(targetPath)));
        QVERIFY(test::SelectFolder(*dialog, "dirSource", Text(Path("driveA/src"))));
        QVERIFY(test::SelectFolder(*dialog, "dirTarget", Text(targetPath)));
        QCOMPARE(test::ClickButton(*dialog, "cmdOK"), static_cast<int>(QDialog::Accepted));
        QCOMPARE(dialog->SourcePath(), Path("driveA/src"));
        QCOMPARE(dialog->TargetPath(), Path(target.toStdString()));
        QCOMPARE(Text(dialog->TargetVolumeName()), volume);
    }

    void aFolderTheFileCannotStoreIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("asSource");
        QTest::newRow("TAB in the source") << "tab\there" << true;
        QTest::newRow("LF in the target") << "line\nbreak" << false;
        QTest::newRow("CR in the source") << "carriage\rreturn" << true;
    }

    void aFolderTheFileCannotStoreIsRefused()
    {
        QFETCH(QString, name);
        QFETCH(bool, asSource);
        const std::string bad = m_driveA + "/" + name.toStdString();
        test::MakeTree(bad, {});
        auto dialog = MakeDialog();
        dialog->show();
        auto* drive = Find<QComboBox>(*dialog, "drvTarget");
        drive->setCurrentIndex(DriveIndex(*dialog, "drvTarget", asSource ? m_driveB : m_driveA));
        QVERIFY(test::SelectFolder(*dialog, "dirSource", Text(asSource ? bad : m_driveA + "/src")));
        QVERIFY(test::SelectFolder(*dialog, "dirTarget", Text(asSource ? m_driveB + "/backup" : bad)));
        MessageBoxes::PushAnswer(MessageAnswer::Ok);
        QCOMPARE(test::ClickButton(*dialog, "cmdOK"), static_cast<int>(QDialog::Rejected));
        QVERIFY(dialog->isVisible());
        QCOMPARE(MessageBoxes::Shown().size(), std::size_t(1));
        QString shown = Text(MessageBoxes::Shown()[0].text);
        QString printable = name;
        printable.replace(QRegularExpression("[\t\r\n]"), "?");
        QVERIFY2(shown.contains(printable) && shown.contains("保存できません"), qPrintable(shown));
        QCOMPARE(MessageBoxes::Shown()[0].icon, MessageIcon::Exclamation);

        // Another folder is taken.
        QVERIFY(test::SelectFolder(*dialog, asSource ? "dirSource" : "dirTarget", Text(m_driveA + "/work")));
        QCOMPARE(test::ClickButton(*dialog, "cmdOK"), static_cast<int>(QDialog::Accepted));
        QCOMPARE(asSource ? dialog->SourcePath() : dialog->TargetPath(), m_driveA + "/work");
    }

    void tabMovesThroughTheControlsInOrder()
    {
        auto dialog = MakeDialog();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        Find<QWidget>(*dialog, "drvSource")->setFocus();
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order,
                 QStringList({"drvSource", "dirSource", "drvTarget", "dirTarget", "cmdOK", "cmdCancel",
                              "drvSource"}));
    }

    void aRightClickSelectsAFolder()
    {
        auto dialog = MakeDialog();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        auto* tree = Find<QTreeView>(*dialog, "dirTarget");
        QTRY_COMPARE(Children(*dialog, "dirTarget").size(), 2);
        const QModelIndex root = tree->model()->index(0, 0, tree->rootIndex());
        QModelIndex child = tree->model()->index(1, 0, root);
        QRect rect = tree->visualRect(child);
        QVERIFY(rect.isValid());
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, rect.center());
        const std::string chosen = m_driveA + "/" + child.data().toString().toStdString();
        QCOMPARE(dialog->SelectedTarget(), chosen);
        QCOMPARE(LabelPath(*dialog, "lblTarget"), Text(chosen));
    }

    void keysCloseTheDialog_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter presses OK") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Esc cancels") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }

    void keysCloseTheDialog()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        auto dialog = MakeDialog();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        Find<QWidget>(*dialog, "dirSource")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
        QCOMPARE(dialog->result(), result);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->SourcePath(), result == QDialog::Accepted ? m_driveA : std::string());
    }
};

QTEST_MAIN(CopySetDialogTest)
#include "CopySetDialogTest.moc"
