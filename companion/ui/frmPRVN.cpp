#include "companion/ui/frmPRVN.h"

#include "companion/core/Items.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/BrennickIcon.h"
#include "companion/ui/ByteText.h"
#include "companion/ui/ChildProcess.h"
#include "companion/ui/MessageBoxes.h"
#include "companion/ui/Twips.h"
#include "companion/ui/frmLog.h"
#include "companion/ui/frmSet.h"
#include "store/CommandLine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <climits>
#include <vector>

namespace brennick {

namespace {

// The bytes of an item's file name ride with its list entry; the text only shows them.
constexpr int kNameRole = Qt::UserRole;

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
QString ButtonText(const std::string& caption)
{
    return ShownText(caption).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// Where a window at position, of the outer size given, goes so that it can be seen: where it is
// while its title bar lies at least partly on a screen, otherwise onto the nearest screen, as far
// in as its size allows. A stored position can lie off every screen after a screen was unplugged
// or the resolution lowered.
QPoint OnScreen(const QPoint& position, const QSize& outer, int titleHeight)
{
    const QRect title(position, QSize(outer.width(), titleHeight));
    QRect nearest;
    long long best = LLONG_MAX;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        if (area.intersects(title)) {
            return position;
        }
        const long long dx = std::max({0, area.left() - title.right(), title.left() - area.right()});
        const long long dy = std::max({0, area.top() - title.bottom(), title.top() - area.bottom()});
        if (dx * dx + dy * dy < best) {
            best = dx * dx + dy * dy;
            nearest = area;
        }
    }
    if (nearest.isNull()) {
        return position;
    }
    return QPoint(std::clamp(position.x(), nearest.left(),
                             std::max(nearest.left(), nearest.right() + 1 - outer.width())),
                  std::clamp(position.y(), nearest.top(),
                             std::max(nearest.top(), nearest.bottom() + 1 - outer.height())));
}

// Shows that the launcher waits for a run: the wait cursor, and every button greyed, until the
// run is over; the buttons then get back the state they had.
class WaitState
{
public:
    explicit WaitState(QWidget* window)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            if (button->isEnabled()) {
                m_disabled.push_back(button);
                button->setEnabled(false);
            }
        }
    }
    ~WaitState()
    {
        for (QPushButton* button : m_disabled) {
            button->setEnabled(true);
        }
        QApplication::restoreOverrideCursor();
    }
    WaitState(const WaitState&) = delete;
    WaitState& operator=(const WaitState&) = delete;

private:
    std::vector<QPushButton*> m_disabled;
};

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
    setWindowTitle(tr("Brennick"));
    setWindowIcon(BrennickIcon()); // the set-up window and the log viewer, owned by it, show it too

    for (int n = 0; n < kItemButtons; ++n) {
        Command2[static_cast<std::size_t>(n)] = new QPushButton(this);
        QPushButton* button = Command2[static_cast<std::size_t>(n)];
        button->setObjectName(QStringLiteral("Command2(%1)").arg(n));
        // Buttons 0 to 4 form the left column from the top, 5 to 9 the right one.
        PlaceTwips(button, n < 5 ? 120 : 1680, 120 + 480 * (n % 5), 1455, 375);
        connect(button, &QPushButton::clicked, this, [this, n] { Command2Click(n); });
    }
    Command1 = new QPushButton(tr("設定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(tr("設定と登録を行います"));
    PlaceTwips(Command1, 120, 2520, 855, 375);
    Command4 = new QPushButton(tr("アイテム"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setToolTip(tr("コマンドボタンに登録します"));
    PlaceTwips(Command4, 1200, 2520, 975, 375);
    Command6 = new QPushButton(tr("ログ"), this);
    Command6->setObjectName(QStringLiteral("Command6"));
    Command6->setToolTip(tr("前回のログを開きます"));
    PlaceTwips(Command6, 2400, 2520, 735, 375);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceTwips(Label2, 120, 3120, 3015, 255);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setToolTip(tr("リストから選び、コマンドボタンをクリックして、登録します。"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    PlaceTwips(List1, 120, 3480, 2535, 780);
    Command5 = new QPushButton(this);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->setToolTip(tr("登録を終了します"));
    PlaceTwips(Command5, 2760, 3480, 375, 735);
    Label1 = new QLabel(tr("アイテムを選択しボタンクリックで登録"), this);
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
    SetOuterHeight(kNormalHeight);
    const QPoint stored(TwipsToPixelsX(this, m_leftTwips), TwipsToPixelsY(this, m_topTwips));
    m_startPosition = OnScreen(stored, QSize(width(), TwipsToPixelsY(this, kNormalHeight)),
                               TwipsToPixelsY(this, kNominalFrameHeight));
    if (m_startPosition != stored) {
        m_leftTwips = PixelsToTwipsX(this, m_startPosition.x());
        m_topTwips = PixelsToTwipsY(this, m_startPosition.y());
    }
    move(m_startPosition);
    SetProgramPath(GetIniStr(m_iniPath, "Past", "text1", ""));
    Command5->setText(tr("終\n了"));

    if (m_programPath.empty()) {
        // The main program has not been located yet, as on the very first start.
        OpenSetup();
    }
    for (int n = 0; n < kItemButtons; ++n) {
        SetItemCaption(n, GetIniStr(m_iniPath, "Past", "com2" + std::to_string(n), ""));
    }
    show();
}

std::string frmPRVN::ItemCaption(int index) const
{
    return m_captions.at(static_cast<std::size_t>(index));
}

void frmPRVN::SetItemCaption(int index, const std::string& caption)
{
    m_captions.at(static_cast<std::size_t>(index)) = caption;
    Command2.at(static_cast<std::size_t>(index))->setText(ButtonText(caption));
}

void frmPRVN::SetProgramPath(const std::string& path)
{
    m_programPath = path;
    Label2->setText(ShownText(path));
}

void frmPRVN::OpenSetup()
{
    frmSet setup(m_companionFolder, m_volumes, this);
    connect(&setup, &frmSet::mainProgramPathChanged, this,
            [this](const QByteArray& path) { SetProgramPath(path.toStdString()); });
    setup.exec();
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
    std::vector<std::string> names;
    for (const std::string& file : ListItems(DataFolder(m_companionFolder))) {
        names.push_back(ItemNameOf(file));
        auto* entry = new QListWidgetItem(ShownText(names.back()), List1);
        entry->setData(kNameRole, QByteArray::fromStdString(names.back()));
    }
    // Binding the empty entry unbinds a button.
    List1->addItem(QString());

    for (int n = 0; n < kItemButtons; ++n) {
        const std::string& caption = m_captions.at(static_cast<std::size_t>(n));
        // Exact comparison of the bytes: an item file renamed to other letter cases is another item.
        if (!caption.empty() && std::find(names.begin(), names.end(), caption) == names.end()) {
            SetItemCaption(n, {});
        }
    }
}

void frmPRVN::Command1Click()
{
    OpenSetup();
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
        SetItemCaption(index,
                       selected.isEmpty()
                           ? std::string()
                           : selected.constFirst()->data(kNameRole).toByteArray().toStdString());
        return;
    }
    if (m_programPath.empty()) {
        MessageBoxes::Show(this, tr("PRVNの場所が指定されていません"));
        return;
    }
    const std::string caption = ItemCaption(index);
    if (caption.empty()) {
        MessageBoxes::Show(this, tr("アイテムが指定されていません"));
        Command4->setFocus();
        return;
    }
    // The item file is the one listed under that name, "NAME.DAT" too; its bytes are passed on
    // unchanged, so the main program opens this very file whatever its name's encoding.
    const std::string dataFolder = DataFolder(m_companionFolder);
    const std::string item = dataFolder + FindItemFile(dataFolder, caption);
    ChildResult result;
    m_waiting = true;
    {
        // The windows keep painting, but the user's input is swallowed until the run is over.
        WaitState wait(this);
        InputBlocker blocker;
        result = RunAndWait(m_programPath, {item, "/A"});
    }
    m_waiting = false;
    if (result.startError != 0) {
        MessageBoxes::Show(this, tr("PRVNを起動できませんでした\r\n") + ShownText(m_programPath));
        return;
    }
    // Exit code 2: the run stopped; 3: it never started. The log is then not this run's (or not
    // all of it), so it is not shown as if it were; the main program's own lines say why.
    if (result.crashed || result.exitCode == ostrel::kExitStopped
        || result.exitCode == ostrel::kExitNotStarted) {
        QString text = result.exitCode == ostrel::kExitNotStarted && !result.crashed
            ? tr("PRVNはコピーを開始できませんでした。新しいログはありません。")
            : tr("PRVNのコピーは途中で止まりました。新しいログはないか、途中までです。");
        QString errors = QString::fromStdString(result.errors).trimmed();
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
        PutIniStr(m_iniPath, "Past", "com2" + std::to_string(n), ItemCaption(n));
    }
}

} // namespace brennick
