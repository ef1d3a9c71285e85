#include "frmPRVN.h"

#include "BrennickIcon.h"
#include "CommandLine.h"
#include "Items.h"
#include "MessageBoxes.h"
#include "Twips.h"
#include "frmLog.h"
#include "frmSet.h"
#include "modIniFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>

#include <cstdio>

namespace brennick {

namespace {

constexpr int kStartTimeoutMs = 30000;

// Swallows the user's input to every window of the companion while it is installed, so that the
// windows keep painting during a run but no click or key is taken, now or later.
class InputBlocker : public QObject
{
public:
    InputBlocker() { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

// A caption shows "&" as it is rather than as the mark of an access key.
QString ButtonText(const QString& caption)
{
    QString text = caption;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

frmPRVN::frmPRVN(const std::string& companionFolder, ostrel::Volumes& volumes)
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_companionFolder(companionFolder)
    , m_iniPath(GetIniPath(companionFolder))
    , m_volumes(volumes)
{
    setObjectName(QStringLiteral("frmPRVN"));
    setWindowTitle(QStringLiteral("Brennick"));
    setWindowIcon(BrennickIcon()); // the set-up window and the log viewer, owned by it, show it too

    for (int n = 0; n < kItemButtons; ++n) {
        Command2[static_cast<std::size_t>(n)] = new QPushButton(this);
        QPushButton* button = Command2[static_cast<std::size_t>(n)];
        button->setObjectName(QStringLiteral("Command2(%1)").arg(n));
        // Buttons 0 to 4 form the left column from the top, 5 to 9 the right one.
        PlaceTwips(button, n < 5 ? 120 : 1680, 120 + 480 * (n % 5), 1455, 375);
        connect(button, &QPushButton::clicked, this, [this, n] { Command2Click(n); });
    }
    Command1 = new QPushButton(QStringLiteral("設定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(QStringLiteral("設定と登録を行います"));
    PlaceTwips(Command1, 120, 2520, 855, 375);
    Command4 = new QPushButton(QStringLiteral("アイテム"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setToolTip(QStringLiteral("コマンドボタンに登録します"));
    PlaceTwips(Command4, 1200, 2520, 975, 375);
    Command6 = new QPushButton(QStringLiteral("ログ"), this);
    Command6->setObjectName(QStringLiteral("Command6"));
    Command6->setToolTip(QStringLiteral("前回のログを開きます"));
    PlaceTwips(Command6, 2400, 2520, 735, 375);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceTwips(Label2, 120, 3120, 3015, 255);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setToolTip(QStringLiteral("リストから選び、コマンドボタンをクリックして、登録します。"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    PlaceTwips(List1, 120, 3480, 2535, 780);
    Command5 = new QPushButton(this);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->setToolTip(QStringLiteral("登録を終了します"));
    PlaceTwips(Command5, 2760, 3480, 375, 735);
    Label1 = new QLabel(QStringLiteral("アイテムを選択しボタンクリックで登録"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceTwips(Label1, 120, 4320, 3015, 255);

    connect(Command1, &QPushButton::clicked, this, &frmPRVN::Command1Click);
    connect(Command4, &QPushButton::clicked, this, &frmPRVN::Command4Click);
    connect(Command5, &QPushButton::clicked, this, &frmPRVN::Command5Click);
    connect(Command6, &QPushButton::clicked, this, &frmPRVN::Command6Click);

    resize(TwipsToPixelsX(this, 3225), height());
    SetOuterHeight(kNormalHeight);
}

void frmPRVN::Start()
{
    m_regMode = 0;
    m_leftTwips = GetIniInt(m_iniPath, "Pos", "left", 4000);
    // The top edge is kept in 16 bits; a value outside them is held to their range.
    m_topTwips = ClampTop(GetIniInt(m_iniPath, "Pos", "top", 4000));
    m_startPosition = QPoint(TwipsToPixelsX(this, m_leftTwips), TwipsToPixelsY(this, m_topTwips));
    move(m_startPosition);
    Label2->setText(QString::fromStdString(GetIniStr(m_iniPath, "Past", "text1", "")));
    Command5->setText(QStringLiteral("終\n了"));

    if (Label2->text().isEmpty()) {
        // The main program has not been located yet, as on the very first start.
        frmSet setup(m_companionFolder, m_volumes, this);
        connect(&setup, &frmSet::mainProgramPathChanged, Label2, &QLabel::setText);
        setup.exec();
    }
    for (int n = 0; n < kItemButtons; ++n) {
        SetItemCaption(n,
                       QString::fromStdString(GetIniStr(m_iniPath, "Past", "com2" + std::to_string(n), "")));
    }
    SetOuterHeight(kNormalHeight);
    show();
}

QString frmPRVN::ItemCaption(int index) const
{
    return m_captions.at(static_cast<std::size_t>(index));
}

void frmPRVN::SetItemCaption(int index, const QString& caption)
{
    m_captions.at(static_cast<std::size_t>(index)) = caption;
    Command2.at(static_cast<std::size_t>(index))->setText(ButtonText(caption));
}

void frmPRVN::SetOuterHeight(int twips)
{
    // The heights include a title bar and borders of the usual size. The window's own area is
    // what remains of them, whatever frame the window system draws (none at all in some
    // sessions), so that normal mode shows the buttons only and registration mode the rest.
    resize(width(), TwipsToPixelsY(this, twips - kNominalFrameHeight));
}

void frmPRVN::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        RefreshItems();
    }
}

void frmPRVN::RefreshItems()
{
    List1->clear();
    for (const std::string& file : ListItems(DataFolder(m_companionFolder))) {
        List1->addItem(QString::fromStdString(ItemNameOf(file)));
    }
    // Binding the empty entry unbinds a button.
    List1->addItem(QString());

    for (int n = 0; n < kItemButtons; ++n) {
        const QString& caption = m_captions.at(static_cast<std::size_t>(n));
        // Exact comparison: an item file renamed to other letter cases is another item.
        if (!caption.isEmpty()
            && List1->findItems(caption, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty()) {
            SetItemCaption(n, QString());
        }
    }
}

void frmPRVN::Command1Click()
{
    frmSet setup(m_companionFolder, m_volumes, this);
    connect(&setup, &frmSet::mainProgramPathChanged, Label2, &QLabel::setText);
    setup.exec();
    RefreshItems();
}

void frmPRVN::Command4Click()
{
    SetOuterHeight(kRegistrationHeight);
    m_regMode = 1;
    Command1->setEnabled(false);
    Command4->setEnabled(false);
    Command6->setEnabled(false);
}

void frmPRVN::Command5Click()
{
    SetOuterHeight(kNormalHeight);
    m_regMode = 0;
    Command1->setEnabled(true);
    Command4->setEnabled(true);
    Command6->setEnabled(true);
}

void frmPRVN::Command6Click()
{
    frmLog viewer(m_companionFolder, this);
    viewer.exec();
    RefreshItems();
}

void frmPRVN::Command2Click(int index)
{
    if (m_regMode == 1) {
        QList<QListWidgetItem*> selected = List1->selectedItems();
        SetItemCaption(index, selected.isEmpty() ? QString() : selected.constFirst()->text());
        return;
    }
    if (Label2->text().isEmpty()) {
        MessageBoxes::Show(this, QStringLiteral("PRVNの場所が指定されていません"));
        return;
    }
    const QString caption = ItemCaption(index);
    if (caption.isEmpty()) {
        MessageBoxes::Show(this, QStringLiteral("アイテムが指定されていません"));
        Command4->setFocus();
        return;
    }
    const QString item = QString::fromStdString(ItemFilePath(m_companionFolder, caption.toStdString()));
    const RunResult result = RunAndWait(Label2->text(), item);
    if (!result.started) {
        MessageBoxes::Show(this, QStringLiteral("PRVNを起動できませんでした\r\n") + Label2->text());
        return;
    }
    // Exit code 2: the run stopped; 3: it never started. The log is then not this run's (or not
    // all of it), so it is not shown as if it were; the main program's own lines say why.
    if (result.crashed || result.exitCode == ostrel::kExitStopped
        || result.exitCode == ostrel::kExitNotStarted) {
        QString text = result.exitCode == ostrel::kExitNotStarted && !result.crashed
            ? QStringLiteral("PRVNはコピーを開始できませんでした。新しいログはありません。")
            : QStringLiteral("PRVNのコピーは途中で止まりました。新しいログはないか、途中までです。");
        QString errors = result.errors.trimmed();
        errors.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        if (!errors.isEmpty()) {
            text += QStringLiteral("\r\n\r\n") + errors;
        }
        MessageBoxes::Show(this, text);
        return;
    }
    if (GetIniInt(m_iniPath, "Past", "check2", 0) == 1) {
        Command6Click();
    }
}

frmPRVN::RunResult frmPRVN::RunAndWait(const QString& program, const QString& itemPath)
{
    RunResult result;
    QProcess process;
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    // Standard output goes where ours goes; standard error is read as it comes, so nothing piles
    // up unread, and is passed on as well as kept for the message after a stopped run.
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    connect(&process, &QProcess::readyReadStandardError, this, [&process, &result] {
        const QByteArray bytes = process.readAllStandardError();
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
        result.errors += QString::fromUtf8(bytes);
    });
    process.setStandardInputFile(QProcess::nullDevice());
    // An argument list: blanks in either path need no quoting.
    process.start(program, {itemPath, QStringLiteral("/A")});
    if (!process.waitForStarted(kStartTimeoutMs)) {
        process.kill();
        process.waitForFinished(kStartTimeoutMs);
        return result;
    }
    result.started = true;

    // The wait sleeps in the event loop until the process ends: the windows keep painting, the
    // processor stays idle, and the user's input is swallowed until the run is over.
    m_waiting = true;
    {
        InputBlocker blocker;
        if (process.state() != QProcess::NotRunning) {
            loop.exec();
        }
    }
    m_waiting = false;
    const QByteArray rest = process.readAllStandardError();
    std::fwrite(rest.constData(), 1, static_cast<std::size_t>(rest.size()), stderr);
    result.errors += QString::fromUtf8(rest);
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    return result;
}

void frmPRVN::closeEvent(QCloseEvent* event)
{
    if (m_waiting) {
        // Closing now would pull the window from under the wait; the run ends first.
        event->ignore();
        return;
    }
    FormUnload();
    event->accept();
}

void frmPRVN::FormUnload()
{
    const QPoint position = pos();
    const int left = position == m_startPosition ? m_leftTwips : PixelsToTwipsX(this, position.x());
    const int top = position == m_startPosition ? m_topTwips : PixelsToTwipsY(this, position.y());
    PutIniStr(m_iniPath, "Pos", "left", std::to_string(left));
    PutIniStr(m_iniPath, "Pos", "top", std::to_string(top));
    for (int n = 0; n < kItemButtons; ++n) {
        PutIniStr(m_iniPath, "Past", "com2" + std::to_string(n), ItemCaption(n).toStdString());
    }
}

} // namespace brennick
