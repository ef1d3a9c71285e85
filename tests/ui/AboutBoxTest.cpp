#include "FakeVolumes.h"
#include "TestTree.h"
#include "WindowFinder.h"
#include "store/CommandLine.h"
#include "ui/Maker.h"
#include "ui/MessageBoxes.h"
#include "ui/TfdlgAboutBox.h"
#include "ui/TfrmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace ostrel;
using ostrel::test::Find;

// Takes the place of the desktop's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;
    QStringList folders; // the working folder at each opening

public slots:
    void Open(const QUrl& url)
    {
        opened << url;
        folders << QDir::currentPath();
    }
};

class AboutBoxTest : public QObject
{
    Q_OBJECT

private:
    static const QStringList& Headings()
    {
        static const QStringList headings{"【ソフト概要】",
                                          "【特徴】",
                                          "【使い方】",
                                          "【コマンドラインオプションの指定について】",
                                          "【Ver1.40-->Ver2.00の変更点】",
                                          "【動作環境】",
                                          "【ユーザーサポート】"};
        return headings;
    }

private slots:
    void init()
    {
        MessageBoxes::SetScripted(true);
        MessageBoxes::Reset();
    }

    void cleanup()
    {
        QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
        QCOMPARE(MessageBoxes::PendingCount(), 0);
    }

    void opensWithABeepAndTheBanner()
    {
        TfdlgAboutBox box;
        QCOMPARE(MessageBoxes::BeepCount(), 1);
        QCOMPARE(box.windowTitle(), QString("バージョン情報 & 操作説明"));
        QCOMPARE(Find<QLabel>(box, "ProductName")->text(), QString("Ostrel"));
        QVERIFY(Find<QLabel>(box, "ProductName")->font().bold());
        QCOMPARE(Find<QLabel>(box, "Version")->text(), QString("Version 2.00"));
        QCOMPARE(Find<QLabel>(box, "Copyright")->text(), QString(kMakerNotice));
        QCOMPARE(Find<QLabel>(box, "Comments")->text(), QString(kMakerUrl));
        QVERIFY(QUrl(kMakerUrl).isValid());
    }

    void hasNoCloseBox()
    {
        TfdlgAboutBox box;
        const Qt::WindowFlags flags = box.windowFlags();
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    }

    void closesWithOk_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("OK button") << "click";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("Esc") << "escape";
        QTest::newRow("window manager") << "close";
    }

    void closesWithOk()
    {
        QFETCH(QString, how);
        TfdlgAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        if (how == "click") {
            QTest::mouseClick(Find<QPushButton>(box, "cmdOK"), Qt::LeftButton);
        } else if (how == "enter") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else if (how == "escape") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else {
            box.close();
        }
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), static_cast<int>(QDialog::Accepted));
    }

    void theHelpTextIsSkippedByTab()
    {
        TfdlgAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        auto* readme = Find<QPlainTextEdit>(box, "mmoReame");
        QVERIFY(readme->isReadOnly());
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(box, "cmdOK"));
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), Find<QWidget>(box, "cmdOK"));
        }
        // Between the banner and the button row, across the whole width.
        QCOMPARE(readme->width(), box.width());
        QCOMPARE(readme->y(), 57);
        QCOMPARE(readme->y() + readme->height(), box.height() - 36);
    }

    void theHelpTextHasItsSevenSections()
    {
        const QString text = TfdlgAboutBox::HelpText();
        QStringList found;
        for (const QString& line : text.split('\n')) {
            if (line.startsWith("【") && line.endsWith("】")) {
                found << line;
            }
        }
        QCOMPARE(found, Headings());
        // Every section has something to say.
        for (int i = 0; i < Headings().size(); ++i) {
            const qsizetype start = text.indexOf(Headings()[i]) + Headings()[i].size();
            const qsizetype end = i + 1 < Headings().size() ? text.indexOf(Headings()[i + 1]) : text.size();
            QVERIFY2(text.mid(start, end - start).trimmed().size() > 20, qPrintable(Headings()[i]));
        }
        QCOMPARE(Find<QPlainTextEdit>(*std::make_unique<TfdlgAboutBox>(), "mmoReame")->toPlainText(), text);
    }

    void theHelpTextNamesTheWindowsControlsAsTheyRead()
    {
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/config");
        auto volumes = std::make_unique<test::FakeVolumes>();
        const std::string program = dir.path().toStdString();
        TfrmMain window(ParseCommandLine({}, program), program, CreateFileSystem(), std::move(volumes));
        const QString text = TfdlgAboutBox::HelpText();
        const QRegularExpression accessKey("\\(&.\\)$");
        int named = 0;
        for (QAbstractButton* control : window.findChildren<QAbstractButton*>()) {
            if (!control->objectName().startsWith("cmd") && !control->objectName().startsWith("chk")) {
                continue;
            }
            QString caption = control->text().remove(accessKey);
            QVERIFY2(text.contains("「" + caption + "」") || text.contains("・" + caption + "："),
                     qPrintable(control->objectName() + " " + caption));
            ++named;
        }
        QCOMPARE(named, 18);
        // What the program writes and reads beside itself, and the switch of an unattended run.
        for (const char* word : {"velmor.log", "velmor.dat", "/A", "/a", "1440", "中止"}) {
            QVERIFY2(text.contains(word), word);
        }
        MessageBoxes::Reset();
    }

    void aClickOnTheLogoOpensTheMakersPage()
    {
        UrlCatcher catcher;
        const QString scheme = QUrl(kMakerUrl).scheme();
        QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
        QTemporaryDir program;
        const QString before = QDir::currentPath();
        TfdlgAboutBox box(nullptr, program.path());
        box.show();
        QLabel* logo = Find<QLabel>(box, "MyLogo");
        QTest::mouseClick(logo, Qt::RightButton);
        QVERIFY(catcher.opened.isEmpty());
        QTest::mouseClick(logo, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(scheme);
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl(kMakerUrl)});
        // The page opens with the program's folder as the working folder; the program's own
        // working folder stays as it was.
        QCOMPARE(catcher.folders, QStringList{QDir(program.path()).canonicalPath()});
        QCOMPARE(QDir::currentPath(), before);
        QVERIFY(box.isVisible());
    }
};

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
