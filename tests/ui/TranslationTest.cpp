#include "FakeHost.h"
#include "TestTree.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/frmLog.h"
#include "engine/MirrorEngine.h"
#include "engine/StatusTexts.h"
#include "platform/PosixFileSystem.h"
#include "store/CopySetFile.h"
#include "ui/TfdlgAboutBox.h"

#include <QApplication>
#include <QTest>
#include <QTranslator>

#include <algorithm>
#include <cerrno>
#include <string>

using namespace ostrel;

namespace {

// Answers every text of a few contexts with a marked copy of its source, as a real translation
// would, and leaves every other context to the untranslated source.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        const std::string name = context;
        if (name == "ostrel::TfdlgAboutBox" || name == "brennick::frmLog" || name == "StatusTexts"
            || name == "IoError") {
            return QStringLiteral("[xx] ") + QString::fromUtf8(sourceText);
        }
        return QString();
    }
    bool isEmpty() const override { return false; }
};

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
    void cleanup() { QCoreApplication::removeTranslator(&m_translator); }

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
    MarkingTranslator m_translator;
};

QTEST_MAIN(TranslationTest)
#include "TranslationTest.moc"
