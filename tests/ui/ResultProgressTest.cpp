#include "store/SettingsStore.h"
#include "ui/Fonts.h"
#include "ui/MessageBoxes.h"
#include "ui/TfdlgCopyResult.h"
#include "ui/TfrmProgress.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <optional>

using namespace ostrel;

Q_DECLARE_METATYPE(ostrel::Message)
Q_DECLARE_METATYPE(ostrel::MessageAnswer)
Q_DECLARE_METATYPE(ostrel::MessageIcon)
Q_DECLARE_METATYPE(ostrel::MessageButtons)

namespace {

// $XDG_CONFIG_HOME of this test run, a fresh temporary folder.
QString g_configHome;

QString SettingsFilePath()
{
    return g_configHome + QStringLiteral("/Kivora/Velmor.conf");
}

Message MakeMessage(const char* text, MessageIcon icon, MessageButtons buttons, bool defaultNo = false,
                    bool beep = true)
{
    Message message;
    message.text = text;
    message.icon = icon;
    message.buttons = buttons;
    message.defaultNo = defaultNo;
    message.beep = beep;
    return message;
}

QLabel* LabelWithText(QWidget& window, const QString& text)
{
    const QList<QLabel*> labels = window.findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->text() == text) {
            return label;
        }
    }
    return nullptr;
}

QRect RectInWindow(const QWidget& widget)
{
    return QRect(widget.mapTo(widget.window(), QPoint(0, 0)), widget.size());
}

bool CentredOnScreen(const QWidget& window)
{
    QRect screen = window.screen()->availableGeometry();
    QPoint offset = window.frameGeometry().center() - screen.center();
    return std::abs(offset.x()) <= 1 && std::abs(offset.y()) <= 1;
}

enum class AbortBy { AbortButton, EscapeOnButton, EscapeOnWindow, ReturnOnWindow };
enum class CloseBy { OkButton, EnterInLog, EnterOnOk, EscapeInLog, FrameClose };

} // namespace

Q_DECLARE_METATYPE(AbortBy)
Q_DECLARE_METATYPE(CloseBy)

class ResultProgressTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void progressControls_data();
    void progressControls();
    void progressWindowFrameAndFont();
    void progressLabelsShowTextsAsGiven();
    void progressTextWidthIsInLabelFont();
    void progressAbort_data();
    void progressAbort();

    void resultShowsLog_data();
    void resultShowsLog();
    void resultDefaultLayout();
    void resultCentredOnScreenNotOwner();
    void resultTinyStoredSizeKeepsOkInView();
    void resultSizeSurvivesClosing_data();
    void resultSizeSurvivesClosing();

    void scriptedBoxes_data();
    void scriptedBoxes();
    void realBoxes_data();
    void realBoxes();

private:
    QTemporaryDir m_logDir{QDir::tempPath() + QStringLiteral("/ui_result_progress_tests-XXXXXX")};
};

void ResultProgressTest::init()
{
    QVERIFY(m_logDir.isValid());
    // Every case starts without stored settings and without a log.
    QFile::remove(SettingsFilePath());
    QDir(m_logDir.path()).removeRecursively();
    QVERIFY(QDir().mkpath(m_logDir.path()));
    MessageBoxes::SetScripted(true);
    MessageBoxes::Reset();
}

void ResultProgressTest::cleanup()
{
    MessageBoxes::SetScripted(true);
    MessageBoxes::Reset();
}

// ---- Progress window ------------------------------------------------------------------------

void ResultProgressTest::progressControls_data()
{
    QTest::addColumn<QString>("objectName"); // empty: found by its text
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("place"); // width and height 0: sized to its text

    QTest::newRow("heading") << QString() << QStringLiteral("ただいま次のコピーセットを実行中です．．．．．")
                             << QRect(32, 24, 0, 0);
    QTest::newRow("source caption") << QString() << QStringLiteral("コピー元") << QRect(40, 48, 0, 0);
    QTest::newRow("target caption") << QString() << QStringLiteral("コピー先") << QRect(40, 64, 0, 0);
    QTest::newRow("lblCopySource") << QStringLiteral("lblCopySource") << QString() << QRect(96, 48, 257, 15);
    QTest::newRow("lblCopyTarget") << QStringLiteral("lblCopyTarget") << QString() << QRect(96, 64, 257, 15);
    QTest::newRow("cmdAbort") << QStringLiteral("cmdAbort") << QStringLiteral("中止")
                              << QRect(146, 100, 75, 25);
}

void ResultProgressTest::progressControls()
{
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    QFETCH(QRect, place);

    TfrmProgress form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QWidget* control =
        objectName.isEmpty() ? LabelWithText(form, text) : form.findChild<QWidget*>(objectName);
    QVERIFY2(control, qPrintable(objectName + text));
    QVERIFY(control->isVisible());
    QCOMPARE(RectInWindow(*control).topLeft(), place.topLeft());
    if (!place.size().isEmpty()) {
        QCOMPARE(control->size(), place.size());
    } else {
        // A caption sized to its text shows all of it.
        QVERIFY(control->width() >= control->fontMetrics().horizontalAdvance(text));
        QVERIFY(RectInWindow(*control).right() < TfrmProgress::kClientWidth);
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        QCOMPARE(label->text(), text);
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QCOMPARE(button->text(), text);
        QVERIFY(!button->icon().isNull());
    }
}

void ResultProgressTest::progressWindowFrameAndFont()
{
    TfrmProgress form;
    QCOMPARE(form.objectName(), QStringLiteral("TfrmProgress"));
    QVERIFY(!form.isVisible());
    QVERIFY(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form.isWindow());

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(367, 136));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(CentredOnScreen(form));

    auto* panel = form.findChild<QFrame*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(panel);
    QCOMPARE(panel->geometry(), form.rect());
    // A flat bevel: no raised or sunken edge.
    QCOMPARE(panel->frameShadow(), QFrame::Plain);

    QLabel* heading = LabelWithText(form, QStringLiteral("ただいま次のコピーセットを実行中です．．．．．"));
    QVERIFY(heading);
    QVERIFY(heading->font().bold());
    for (const char* name : {"lblCopySource", "lblCopyTarget"}) {
        auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
        QVERIFY(label);
        QCOMPARE(label->font().family(), QString::fromUtf8(kPGothicFamily));
        QCOMPARE(label->font().pixelSize(), 12);
        QVERIFY(!label->font().bold());
        // A path label never grows or shrinks with its text.
        QCOMPARE(label->minimumSize(), QSize(257, 15));
        QCOMPARE(label->maximumSize(), QSize(257, 15));
    }
    if (!QFontDatabase::families().contains(QStringLiteral("IPAPGothic"))) {
        QSKIP("IPA P Gothic is not installed");
    }
    QCOMPARE(QFontInfo(heading->font()).family(), QStringLiteral("IPAPGothic"));
}

void ResultProgressTest::progressLabelsShowTextsAsGiven()
{
    TfrmProgress form;
    auto* source = form.findChild<QLabel*>(QStringLiteral("lblCopySource"));
    auto* target = form.findChild<QLabel*>(QStringLiteral("lblCopyTarget"));
    QVERIFY(source && target);
    QCOMPARE(source->text(), QString());
    QCOMPARE(target->text(), QString());

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Far wider than the label, with characters that would mean something as markup.
    const QString longSource =
        QStringLiteral("/media/alice/USB1/写真/<2024>&旅行/") + QString(60, QLatin1Char('x'));
    const QString shortTarget = QStringLiteral("/home/alice/バックアップ/");
    form.SetLabels(longSource, shortTarget);
    QCOMPARE(source->text(), longSource);
    QCOMPARE(target->text(), shortTarget);
    QCOMPARE(source->textFormat(), Qt::PlainText);
    QCOMPARE(source->size(), QSize(257, 15));
}

void ResultProgressTest::progressTextWidthIsInLabelFont()
{
    TfrmProgress form;
    auto* source = form.findChild<QLabel*>(QStringLiteral("lblCopySource"));
    QVERIFY(source);
    const QString text = QStringLiteral("/home/alice/ドキュメント/報告書");
    QCOMPARE(form.LabelTextWidth(QString()), 0);
    QCOMPARE(form.LabelTextWidth(text), QFontMetrics(source->font()).horizontalAdvance(text));
    QCOMPARE(form.LabelTextWidth(text), QFontMetrics(PGothicFont(12)).horizontalAdvance(text));
    QVERIFY(form.LabelTextWidth(text + QStringLiteral("/2024")) > form.LabelTextWidth(text));
}

void ResultProgressTest::progressAbort_data()
{
    QTest::addColumn<AbortBy>("how");
    QTest::addColumn<int>("aborts");

    QTest::newRow("cmdAbort clicked") << AbortBy::AbortButton << 1;
    QTest::newRow("Escape while cmdAbort has the focus") << AbortBy::EscapeOnButton << 1;
    QTest::newRow("Escape while the window has the focus") << AbortBy::EscapeOnWindow << 1;
    QTest::newRow("Enter on the window does nothing") << AbortBy::ReturnOnWindow << 0;
}

void ResultProgressTest::progressAbort()
{
    QFETCH(AbortBy, how);
    QFETCH(int, aborts);

    TfrmProgress form;
    QSignalSpy spy(&form, &TfrmProgress::abortRequested);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SetLabels(QStringLiteral("/src"), QStringLiteral("/dst"));
    auto* abort = form.findChild<QPushButton*>(QStringLiteral("cmdAbort"));
    QVERIFY(abort);

    switch (how) {
    case AbortBy::AbortButton:
        QTest::mouseClick(abort, Qt::LeftButton);
        break;
    case AbortBy::EscapeOnButton:
        abort->setFocus();
        QTest::keyClick(abort, Qt::Key_Escape);
        break;
    case AbortBy::EscapeOnWindow:
        QTest::keyClick(&form, Qt::Key_Escape);
        break;
    case AbortBy::ReturnOnWindow:
        QTest::keyClick(&form, Qt::Key_Return);
        break;
    }

    QCOMPARE(spy.count(), aborts);
    QCOMPARE(form.isVisible(), aborts == 0);
    // The window is kept for the next run, hidden.
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("lblCopySource"))->text(), QStringLiteral("/src"));
}

// ---- Result window --------------------------------------------------------------------------

void ResultProgressTest::resultShowsLog_data()
{
    QTest::addColumn<std::optional<QByteArray>>("file"); // nullopt: no log at all
    QTest::addColumn<bool>("isFolder"); // the log's path names a folder: it cannot be read
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("lines");

    QTest::newRow("Japanese log with CR LF") << std::optional<QByteArray>(QByteArray(
        "\xE3\x80\x90\xE3\x82\xB3\xE3\x83\x94\xE3\x83\xBC\xE3\x80\x91/src/\xE5\x86\x99\xE7\x9C\x9F.jpg\r\n"
        "\xE3\x80\x90\xE5\x89\x8A\xE9\x99\xA4\xE3\x80\x91/dst/old.txt\r\n"
        "\r\n"
        "*****\r\n")) << false << QStringLiteral("【コピー】/src/写真.jpg\n【削除】/dst/old.txt\n\n*****\n")
                                             << 5;
    QTest::newRow("last line without line end")
        << std::optional<QByteArray>(QByteArray("a\r\nb")) << false << QStringLiteral("a\nb") << 2;
    QTest::newRow("empty log") << std::optional<QByteArray>(QByteArray()) << false << QString() << 1;
    QTest::newRow("no log yet") << std::optional<QByteArray>() << false << QString() << 1;
    QTest::newRow("unreadable log: a folder by that name")
        << std::optional<QByteArray>() << true << QString() << 1;
}

void ResultProgressTest::resultShowsLog()
{
    QFETCH(std::optional<QByteArray>, file);
    QFETCH(bool, isFolder);
    QFETCH(QString, expected);
    QFETCH(int, lines);

    const QString logPath = m_logDir.filePath(QStringLiteral("velmor.log"));
    if (file) {
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::WriteOnly));
        QCOMPARE(log.write(*file), file->size());
    }
    if (isFolder) {
        QVERIFY(QDir().mkpath(logPath));
    }

    SettingsStore settings;
    TfdlgCopyResult dialog(logPath, settings);
    auto* log = dialog.findChild<QPlainTextEdit*>(QStringLiteral("redtCopyResult"));
    QVERIFY(log);
    QCOMPARE(log->toPlainText(), expected);
    QCOMPARE(log->blockCount(), lines);
    QCOMPARE(MessageBoxes::Shown().size(), std::size_t{0});
}

void ResultProgressTest::resultDefaultLayout()
{
    SettingsStore settings;
    TfdlgCopyResult dialog(m_logDir.filePath(QStringLiteral("velmor.log")), settings);
    QCOMPARE(dialog.objectName(), QStringLiteral("TfdlgCopyResult"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("実行結果"));
    QCOMPARE(dialog.font().family(), QString::fromUtf8(kPGothicFamily));
    QCOMPARE(dialog.font().pixelSize(), 12);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // The size is the outer one; the test platform draws a frame.
    QVERIFY(dialog.frameGeometry() != dialog.geometry());
    QTRY_COMPARE(dialog.frameGeometry().size(), QSize(606, 416));
    QVERIFY(dialog.maximumWidth() > 606 && dialog.maximumHeight() > 416); // sizable
    QVERIFY(CentredOnScreen(dialog));

    auto* log = dialog.findChild<QPlainTextEdit*>(QStringLiteral("redtCopyResult"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    QVERIFY(log && ok);
    QVERIFY(log->isReadOnly());
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(log->palette().color(QPalette::Base), dialog.palette().color(QPalette::Button));
    const QSize inner = dialog.size();
    QCOMPARE(RectInWindow(*log), QRect(0, 0, inner.width(), inner.height() - 36));
    QCOMPARE(RectInWindow(*ok), QRect((inner.width() - 79) / 2, inner.height() - 36 + 8, 79, 25));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    QVERIFY(!ok->icon().isNull());
}

void ResultProgressTest::resultCentredOnScreenNotOwner()
{
    QWidget owner;
    owner.setGeometry(10, 10, 200, 150);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    SettingsStore settings;
    TfdlgCopyResult dialog(m_logDir.filePath(QStringLiteral("velmor.log")), settings, &owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(CentredOnScreen(dialog));
}

void ResultProgressTest::resultTinyStoredSizeKeepsOkInView()
{
    SettingsStore settings;
    settings.WriteInt("Startup", "CopyRsltWidth", 0);
    settings.WriteInt("Startup", "CopyRsltHeight", 3);
    TfdlgCopyResult dialog(m_logDir.filePath(QStringLiteral("velmor.log")), settings);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    QVERIFY(ok);
    QVERIFY2(dialog.rect().contains(RectInWindow(*ok)),
             qPrintable(QStringLiteral("%1x%2").arg(dialog.width()).arg(dialog.height())));
    QVERIFY(dialog.findChild<QPlainTextEdit*>(QStringLiteral("redtCopyResult"))->height() > 0);
}

void ResultProgressTest::resultSizeSurvivesClosing_data()
{
    QTest::addColumn<CloseBy>("how");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("result");

    QTest::newRow("cmdOK, 800x500") << CloseBy::OkButton << QSize(800, 500) << int(QDialog::Accepted);
    QTest::newRow("Enter in the log, 800x500")
        << CloseBy::EnterInLog << QSize(800, 500) << int(QDialog::Accepted);
    QTest::newRow("Enter on cmdOK, odd width")
        << CloseBy::EnterOnOk << QSize(801, 433) << int(QDialog::Accepted);
    QTest::newRow("Escape, 800x500") << CloseBy::EscapeInLog << QSize(800, 500) << int(QDialog::Rejected);
    QTest::newRow("frame close, smaller") << CloseBy::FrameClose << QSize(500, 300) << int(QDialog::Rejected);
}

void ResultProgressTest::resultSizeSurvivesClosing()
{
    QFETCH(CloseBy, how);
    QFETCH(QSize, size);
    QFETCH(int, result);
    const QString logPath = m_logDir.filePath(QStringLiteral("velmor.log"));
    const QRect okPlace((size.width() - 79) / 2, size.height() - 36 + 8, 79, 25);
    QSize outer;

    {
        SettingsStore settings;
        TfdlgCopyResult dialog(logPath, settings);
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.resize(size);
        QCOMPARE(dialog.size(), size);
        outer = dialog.frameGeometry().size();
        auto* log = dialog.findChild<QPlainTextEdit*>(QStringLiteral("redtCopyResult"));
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
        QVERIFY(log && ok);
        QTRY_COMPARE(RectInWindow(*ok), okPlace);

        switch (how) {
        case CloseBy::OkButton:
            QTest::mouseClick(ok, Qt::LeftButton);
            break;
        case CloseBy::EnterInLog:
            log->setFocus();
            QTest::keyClick(log, Qt::Key_Return);
            break;
        case CloseBy::EnterOnOk:
            ok->setFocus();
            QTest::keyClick(ok, Qt::Key_Enter);
            break;
        case CloseBy::EscapeInLog:
            log->setFocus();
            QTest::keyClick(log, Qt::Key_Escape);
            break;
        case CloseBy::FrameClose:
            QVERIFY(dialog.close());
            break;
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dialog.result(), result);

        // On disk as soon as the window has closed, while the store is still open: a program that
        // is killed later keeps the size.
        QFile file(SettingsFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY2(stored.contains("[Startup]"), stored.constData());
        // The outer size, frame included, is what is kept.
        QVERIFY2(stored.contains("CopyRsltWidth=" + QByteArray::number(outer.width())), stored.constData());
        QVERIFY2(stored.contains("CopyRsltHeight=" + QByteArray::number(outer.height())), stored.constData());
    }

    SettingsStore later;
    TfdlgCopyResult reopened(logPath, later);
    reopened.show();
    QVERIFY(QTest::qWaitForWindowExposed(&reopened));
    QTRY_COMPARE(reopened.size(), size);
    QCOMPARE(reopened.frameGeometry().size(), outer);
    // The offscreen screen is 800 pixels wide: a window of that width cannot be centred with its frame.
    if (reopened.screen()->availableGeometry().contains(reopened.frameGeometry())) {
        QVERIFY(CentredOnScreen(reopened));
    }
    QCOMPARE(RectInWindow(*reopened.findChild<QPushButton*>(QStringLiteral("cmdOK"))), okPlace);
    reopened.reject();
}

// ---- Message boxes --------------------------------------------------------------------------

void ResultProgressTest::scriptedBoxes_data()
{
    QTest::addColumn<QList<Message>>("messages");
    QTest::addColumn<QList<MessageAnswer>>("queue");
    QTest::addColumn<QList<MessageAnswer>>("answers");
    QTest::addColumn<int>("beeps");
    QTest::addColumn<int>("unexpected");

    const Message question = MakeMessage("実行しますか？", MessageIcon::Question, MessageButtons::YesNo);
    const Message confirm = MakeMessage("続けますか？", MessageIcon::Exclamation, MessageButtons::OkCancel);
    const Message notice =
        MakeMessage("コピーを中止しました！", MessageIcon::Information, MessageButtons::Ok);
    const Message quiet = MakeMessage("quiet", MessageIcon::Error, MessageButtons::Ok, false, false);

    using Answers = QList<MessageAnswer>;
    QTest::newRow("answers in queue order")
        << QList<Message>{question, confirm, notice}
        << Answers{MessageAnswer::Yes, MessageAnswer::Cancel, MessageAnswer::Ok}
        << Answers{MessageAnswer::Yes, MessageAnswer::Cancel, MessageAnswer::Ok} << 3 << 0;
    QTest::newRow("no beep when the message says so")
        << QList<Message>{quiet, notice} << Answers{MessageAnswer::Ok, MessageAnswer::Ok}
        << Answers{MessageAnswer::Ok, MessageAnswer::Ok} << 1 << 0;
    QTest::newRow("empty queue, yes/no")
        << QList<Message>{question} << Answers{} << Answers{MessageAnswer::No} << 1 << 1;
    QTest::newRow("empty queue, ok/cancel")
        << QList<Message>{confirm} << Answers{} << Answers{MessageAnswer::Cancel} << 1 << 1;
    QTest::newRow("empty queue, ok only")
        << QList<Message>{notice} << Answers{} << Answers{MessageAnswer::Ok} << 1 << 1;
    QTest::newRow("queue runs dry on the second box")
        << QList<Message>{question, question} << Answers{MessageAnswer::Yes}
        << Answers{MessageAnswer::Yes, MessageAnswer::No} << 2 << 1;
    QTest::newRow("an answer the box does not offer")
        << QList<Message>{question, confirm} << Answers{MessageAnswer::Ok, MessageAnswer::Ok}
        << Answers{MessageAnswer::No, MessageAnswer::Ok} << 2 << 1;
}

void ResultProgressTest::scriptedBoxes()
{
    QFETCH(QList<Message>, messages);
    QFETCH(QList<MessageAnswer>, queue);
    QFETCH(QList<MessageAnswer>, answers);
    QFETCH(int, beeps);
    QFETCH(int, unexpected);

    for (MessageAnswer answer : queue) {
        MessageBoxes::PushAnswer(answer);
    }
    QList<MessageAnswer> given;
    for (const Message& message : messages) {
        given.append(MessageBoxes::Show(nullptr, message));
    }
    QCOMPARE(given, answers);
    QCOMPARE(MessageBoxes::BeepCount(), beeps);
    QCOMPARE(MessageBoxes::UnexpectedCount(), unexpected);
    QCOMPARE(MessageBoxes::Shown().size(), std::size_t(messages.size()));
    for (qsizetype i = 0; i < messages.size(); ++i) {
        QCOMPARE(MessageBoxes::Shown()[std::size_t(i)].text, messages[i].text);
        QCOMPARE(MessageBoxes::Shown()[std::size_t(i)].buttons, messages[i].buttons);
    }

    // Reset forgets the records and the answers still queued.
    MessageBoxes::PushAnswer(MessageAnswer::Yes);
    MessageBoxes::Reset();
    QCOMPARE(MessageBoxes::BeepCount(), 0);
    QCOMPARE(MessageBoxes::UnexpectedCount(), 0);
    QVERIFY(MessageBoxes::Shown().empty());
    QCOMPARE(MessageBoxes::Show(nullptr, MakeMessage("?", MessageIcon::Question, MessageButtons::YesNo)),
             MessageAnswer::No);
    QCOMPARE(MessageBoxes::UnexpectedCount(), 1);
}

void ResultProgressTest::realBoxes_data()
{
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<MessageButtons>("buttons");
    QTest::addColumn<bool>("defaultNo");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("boxIcon");
    QTest::addColumn<int>("boxButtons");
    QTest::addColumn<int>("boxDefault");
    QTest::addColumn<MessageAnswer>("answer");

    const int yesNo = QMessageBox::Yes | QMessageBox::No;
    const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    QTest::newRow("question, Enter takes Yes")
        << MessageIcon::Question << MessageButtons::YesNo << false << int(Qt::Key_Return)
        << int(QMessageBox::Question) << yesNo << int(QMessageBox::Yes) << MessageAnswer::Yes;
    QTest::newRow("question with No as default, Enter takes No")
        << MessageIcon::Question << MessageButtons::YesNo << true << int(Qt::Key_Return)
        << int(QMessageBox::Question) << yesNo << int(QMessageBox::No) << MessageAnswer::No;
    QTest::newRow("question, Escape takes No")
        << MessageIcon::Question << MessageButtons::YesNo << false << int(Qt::Key_Escape)
        << int(QMessageBox::Question) << yesNo << int(QMessageBox::Yes) << MessageAnswer::No;
    QTest::newRow("exclamation, Enter takes OK")
        << MessageIcon::Exclamation << MessageButtons::OkCancel << false << int(Qt::Key_Return)
        << int(QMessageBox::Warning) << okCancel << int(QMessageBox::Ok) << MessageAnswer::Ok;
    QTest::newRow("exclamation, Escape takes Cancel")
        << MessageIcon::Exclamation << MessageButtons::OkCancel << false << int(Qt::Key_Escape)
        << int(QMessageBox::Warning) << okCancel << int(QMessageBox::Ok) << MessageAnswer::Cancel;
    QTest::newRow("information, Escape takes OK")
        << MessageIcon::Information << MessageButtons::Ok << false << int(Qt::Key_Escape)
        << int(QMessageBox::Information) << int(QMessageBox::Ok) << int(QMessageBox::Ok) << MessageAnswer::Ok;
    QTest::newRow("error") << MessageIcon::Error << MessageButtons::Ok << false << int(Qt::Key_Return)
                           << int(QMessageBox::Critical) << int(QMessageBox::Ok) << int(QMessageBox::Ok)
                           << MessageAnswer::Ok;
    QTest::newRow("no icon") << MessageIcon::None << MessageButtons::Ok << false << int(Qt::Key_Return)
                             << int(QMessageBox::NoIcon) << int(QMessageBox::Ok) << int(QMessageBox::Ok)
                             << MessageAnswer::Ok;
}

// The real box, answered by a key press from a timer so that the modal loop always ends.
void ResultProgressTest::realBoxes()
{
    QFETCH(MessageIcon, icon);
    QFETCH(MessageButtons, buttons);
    QFETCH(bool, defaultNo);
    QFETCH(int, key);
    QFETCH(int, boxIcon);
    QFETCH(int, boxButtons);
    QFETCH(int, boxDefault);
    QFETCH(MessageAnswer, answer);

    struct Seen
    {
        QString title;
        QString text;
        Qt::TextFormat format = Qt::AutoText;
        int icon = -1;
        int buttons = -1;
        int defaultButton = -1;
    };
    std::optional<Seen> seen;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible() || seen) {
                continue;
            }
            seen = Seen{box->windowTitle(),          box->text(),
                        box->textFormat(),           int(box->icon()),
                        int(box->standardButtons()), int(box->standardButton(box->defaultButton()))};
            poll.stop();
            QTest::keyClick(box, Qt::Key(key));
        }
    });
    poll.start();

    MessageBoxes::SetScripted(false);
    const MessageAnswer given = MessageBoxes::Show(
        nullptr, MakeMessage("1 行目 <b>&amp;</b>\r\n2 行目", icon, buttons, defaultNo, false));
    MessageBoxes::SetScripted(true);

    QVERIFY(seen);
    QCOMPARE(given, answer);
    QCOMPARE(seen->title, QStringLiteral("Ostrel"));
    QCOMPARE(seen->text, QStringLiteral("1 行目 <b>&amp;</b>\n2 行目"));
    QCOMPARE(seen->format, Qt::PlainText);
    QCOMPARE(seen->icon, boxIcon);
    QCOMPARE(seen->buttons, boxButtons);
    QCOMPARE(seen->defaultButton, boxDefault);
    QCOMPARE(MessageBoxes::BeepCount(), 0);
}

int main(int argc, char** argv)
{
    // Settings go to a fresh folder before anything can read them; nothing touches the real ones.
    QTemporaryDir configHome(QDir::tempPath() + QStringLiteral("/ui_result_progress_tests-config-XXXXXX"));
    if (!configHome.isValid()) {
        return 1;
    }
    g_configHome = configHome.path();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_configHome));

    QApplication app(argc, argv);
    InstallFontSubstitution();
    ResultProgressTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "ResultProgressTest.moc"
