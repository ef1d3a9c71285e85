#include "FakeHost.h"
#include "FakeVolumes.h"
#include "TestTree.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/frmLog.h"
#include "companion/ui/frmPRVN.h"
#include "companion/ui/frmSet.h"
#include "engine/MirrorEngine.h"
#include "engine/StatusTexts.h"
#include "platform/PosixFileSystem.h"
#include "store/CommandLine.h"
#include "store/CopySetFile.h"
#include "store/IoErrorText.h"
#include "store/SettingsStore.h"
#include "ui/TfdlgAboutBox.h"
#include "ui/TfdlgCopyResult.h"
#include "ui/TfdlgCopySet.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmProgress.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <algorithm>
#include <cerrno>
#include <string>

using namespace ostrel;

namespace {

// Answers every text of a few contexts (all of them when contexts is empty) with a marked copy of
// its source, as a real translation would, and leaves every other context to the source.
class MarkingTranslator : public QTranslator
{
public:
    explicit MarkingTranslator(std::vector<std::string> contexts)
        : m_contexts(std::move(contexts))
    {
    }
    QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        if (m_contexts.empty()
            || std::find(m_contexts.begin(), m_contexts.end(), context) != m_contexts.end()) {
            return QStringLiteral("[xx] ") + QString::fromUtf8(sourceText);
        }
        return QString();
    }
    bool isEmpty() const override { return false; }

private:
    std::vector<std::string> m_contexts;
};

// The Japanese texts a window shows (captions, labels, buttons, group titles, hints, column
// titles) that a translation did not reach.
QStringList UntranslatedTexts(QWidget& window)
{
    QStringList found;
    auto look = [&](const QString& text, const QString& where) {
        const bool japanese =
            std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3000; });
        if (japanese && !text.contains(QStringLiteral("[xx]"))) {
            found << where + QStringLiteral(": ") + text;
        }
    };
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(&window);
    for (QWidget* widget : widgets) {
        const QString name = widget->objectName();
        look(widget->windowTitle(), name);
        look(widget->toolTip(), name);
        look(widget->statusTip(), name);
        look(widget->property("hint").toString(), name); // the main window's status-bar hints
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            look(label->text(), name);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            look(button->text(), name);
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            look(group->title(), name);
        } else if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
            for (int column = 0; column < view->model()->columnCount(); ++column) {
                look(view->model()->headerData(column, Qt::Horizontal).toString(), name);
            }
        }
    }
    return found;
}

// A companion folder whose settings name a main program, so the log window opens without a message.
std::string CompanionFolder(const test::TempFolder& folder)
{
    brennick::PutIniStr(brennick::GetIniPath(folder.Path()), "Past", "text1", folder / "Parvane");
    return folder.Path();
}

} // namespace

class TranslationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (m_home.path() + "/data").toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path() + "/config");
    }

    void cleanup()
    {
        QCoreApplication::removeTranslator(&m_translator);
        QCoreApplication::removeTranslator(&m_everything);
    }

    void WindowTextsAreTheJapaneseSourceWithoutATranslator()
    {
        TfdlgAboutBox about;
        QCOMPARE(about.windowTitle(), QStringLiteral("バージョン情報 & 操作説明"));
        test::TempFolder folder;
        brennick::frmLog log(CompanionFolder(folder), nullptr);
        QCOMPARE(log.windowTitle(), QStringLiteral("ログの表示"));
        QCOMPARE(IoErrorText(ENOENT), std::string("ファイルが見つかりません"));
        QCOMPARE(IoErrorText(EIO), std::string("I/O エラー (5)"));
    }

    void AnInstalledTranslatorReachesBothProgramsWindows()
    {
        QVERIFY(QCoreApplication::installTranslator(&m_translator));
        TfdlgAboutBox about;
        QCOMPARE(about.windowTitle(), QStringLiteral("[xx] バージョン情報 & 操作説明"));
        test::TempFolder folder;
        brennick::frmLog log(CompanionFolder(folder), nullptr);
        QCOMPARE(log.windowTitle(), QStringLiteral("[xx] ログの表示"));
        // The texts of a copy-set file's errors, which both programs show.
        QCOMPARE(IoErrorText(ENOSPC), std::string("[xx] ディスクがいっぱいです"));
        QCOMPARE(IoErrorText(EIO), std::string("[xx] I/O エラー (5)"));
    }

    // No window of either program shows a Japanese text that a translation can't reach.
    void EveryWindowTextIsTranslatable()
    {
        QVERIFY(QCoreApplication::installTranslator(&m_everything));
        test::TempFolder folder;
        test::FakeVolumes volumes;
        volumes.types["/"] = DriveType::Fixed;
        const std::string program = folder / "program";
        test::MakeTree(program, {});
        SettingsStore settings;
        std::vector<std::unique_ptr<QWidget>> windows;
        windows.push_back(std::make_unique<TfrmMain>(ParseCommandLine({}, program), program,
                                                     CreateFileSystem(),
                                                     std::make_unique<test::FakeVolumes>(volumes)));
        windows.push_back(std::make_unique<TfdlgCopySet>(
            volumes, [](const std::string&) { return std::string(); }, QStringLiteral("x"), folder.Path(),
            folder.Path()));
        windows.push_back(std::make_unique<TfdlgAboutBox>());
        windows.push_back(std::make_unique<TfrmProgress>());
        windows.push_back(
            std::make_unique<TfdlgCopyResult>(QString::fromStdString(folder / "none.log"), settings));
        windows.push_back(std::make_unique<brennick::frmPRVN>(CompanionFolder(folder), volumes));
        windows.push_back(std::make_unique<brennick::frmSet>(folder.Path(), volumes, nullptr));
        windows.push_back(std::make_unique<brennick::frmLog>(folder.Path(), nullptr));
        for (auto& window : windows) {
            const QStringList untranslated = UntranslatedTexts(*window);
            QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join('\n')));
        }
    }

    // The status bar follows the translation; the copy log is a file format and does not.
    void TheStatusBarIsTranslatedAndTheCopyLogIsNot()
    {
        QVERIFY(QCoreApplication::installTranslator(&m_translator));
        test::TempFolder folder;
        const std::string src = folder / "src";
        const std::string dst = folder / "dst";
        test::MakeTree(src, {{"new.txt", "new"}});
        test::MakeTree(dst, {{"gone.txt", "old"}});
        test::MakeTree(folder / "log", {});
        PosixFileSystem fs;
        test::FakeHost host;
        host.options[RunOption::Delete] = true;
        MirrorEngine engine(fs, host, folder / "log");
        engine.ClearLists();
        engine.GetCopyFiles(src, dst);
        engine.GetDeleteFiles(src, dst);
        engine.ExeCopyFiles(true, src, dst, false);

        const auto& shown = host.statusTexts[0];
        const auto translated = [&](const char* text) {
            const std::string marked = "[xx] " + std::string(text);
            return std::any_of(shown.begin(), shown.end(),
                               [&](const std::string& s) { return s.rfind(marked, 0) == 0; });
        };
        QVERIFY(translated(StatusTexts::kSearching));
        QVERIFY(translated(StatusTexts::kDeleting));

        const std::string log = test::ReadFile(engine.LogPath());
        QVERIFY(log.find(")  追加コピー\r\n") != std::string::npos);
        QVERIFY(log.find(dst + "/gone.txt  削除\r\n") != std::string::npos);
        QVERIFY(log.find("コピーファイル総数  ： 1\r\n") != std::string::npos);
        QVERIFY(log.find("[xx]") == std::string::npos);
    }

private:
    QTemporaryDir m_home;
    MarkingTranslator m_translator{{"ostrel::TfdlgAboutBox", "brennick::frmLog", "StatusTexts", "IoError"}};
    MarkingTranslator m_everything{{}};
};

QTEST_MAIN(TranslationTest)
#include "TranslationTest.moc"
