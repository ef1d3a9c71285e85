#include "ui/TfrmMain.h"

#include "platform/PathText.h"
#include "platform/TrBytes.h"
#include "store/CopySetFile.h"
#include "store/IoErrorText.h"
#include "ui/CopyAnimation.h"
#include "ui/CopySetListModel.h"
#include "ui/Dialogs.h"
#include "ui/Maker.h"
#include "ui/MessageBoxes.h"
#include "ui/ParvaneIcon.h"
#include "ui/PathLabel.h"
#include "ui/TfdlgAboutBox.h"
#include "ui/TfdlgCopyResult.h"
#include "ui/TfdlgCopySet.h"
#include "ui/TfrmProgress.h"
#include "ui/UpDown.h"
#include "ui/WindowFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

namespace ostrel {

namespace {

constexpr int kDesignWidth = 681;
constexpr int kDesignHeight = 487;
// The window refuses any size that is not greater than this.
constexpr int kLeastWidth = 670;
constexpr int kLeastHeight = 400;
constexpr int kMinuteMs = 60000;
constexpr const char* kStartup = "Startup";
constexpr const char* kSetting = "Setting";
// The check box of each run option; its name is also its key in the settings.
struct OptionBox
{
    RunOption option;
    const char* name;
    const char* caption;
    const char* hint;
};
constexpr OptionBox kOptionBoxes[] = {
    {RunOption::Delete, "chkDelete", QT_TRANSLATE_NOOP("ostrel::TfrmMain", "削除ファイルもリンク(&L)"),
     QT_TRANSLATE_NOOP("ostrel::TfrmMain",
                       "コピー元から削除されたファイルやフォルダをコピー先からも削除します。")},
    {RunOption::Trash, "chkTrash", QT_TRANSLATE_NOOP("ostrel::TfrmMain", "ごみ箱に入れる(&T)"),
     QT_TRANSLATE_NOOP("ostrel::TfrmMain",
                       "削除したファイルやフォルダをゴミ箱へ移動します。ローカルドライブのみ有効です。")},
    {RunOption::SubFolder, "chkSubFolder",
     QT_TRANSLATE_NOOP("ostrel::TfrmMain", "サブフォルダは検索しない(&B)"),
     QT_TRANSLATE_NOOP(
         "ostrel::TfrmMain",
         "指定されたフォルダだけを対象にコピーを行います。下位のフォルダは検索や比較を行いません。")},
    {RunOption::Link, "chkLink", QT_TRANSLATE_NOOP("ostrel::TfrmMain", "相互リンクする(&K)"),
     QT_TRANSLATE_NOOP("ostrel::TfrmMain",
                       "コピー先からコピー元へのコピーも行い、コピー先とコピー元を相互にリンクします。")},
    {RunOption::SystemFile, "chkSystemFile",
     QT_TRANSLATE_NOOP("ostrel::TfrmMain", "システムファイルもコピー(&S)"),
     QT_TRANSLATE_NOOP("ostrel::TfrmMain", "SYSTEM.DATやUSER.DATなどのシステムファイルもコピーします。")},
    {RunOption::LogOnly, "chkLogOnly", QT_TRANSLATE_NOOP("ostrel::TfrmMain", "ログだけとる(&J)"),
     QT_TRANSLATE_NOOP("ostrel::TfrmMain",
                       "実際のコピーや削除を行わず、その予定ファイルだけをログとして表示します。")},
};
static_assert(std::size(kOptionBoxes) == kRunOptionCount, "one check box for each run option");
constexpr const char* kColumnKeys[4] = {"ColWidth0", "ColWidth1", "ColWidth2", "ColWidth3"};
constexpr int kColumnDefaults[4] = {220, 220, 93, 130};
// The widest last-run stamp, for the default width of its column.
constexpr const char* kWidestStamp = "00/00/00 00:00";
constexpr const char* kHintProperty = "hint";
// Events are let through at most this often during a run: often enough for painting and the
// abort button, rarely enough not to slow down a walk over many small files.
constexpr int kEventIntervalMs = 15;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string Bytes(const QString& text)
{
    return text.toStdString();
}

// A plain file, not a folder: what the program can load as a copy-set file.
bool FileExists(const std::string& path)
{
    struct stat info
    {
    };
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Whether two paths name the same file.
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

} // namespace

TfrmMain::TfrmMain(const StartupArguments& arguments, const std::string& programFolder,
                   std::unique_ptr<FileSystem> fileSystem, std::unique_ptr<Volumes> volumes,
                   RunDriver::Clock clock)
    : m_programFolder(programFolder)
    , m_fs(std::move(fileSystem))
    , m_volumes(std::move(volumes))
{
    if (!clock) {
        clock = [] { return std::time(nullptr); };
    }
    m_engine = std::make_unique<MirrorEngine>(*m_fs, *this, m_programFolder);
    m_sets = new CopySetListModel(this);
    m_driver = std::make_unique<RunDriver>(*this, *m_sets, *m_engine, *m_volumes, std::move(clock));
    m_networkPrompt = [this]() -> std::optional<std::string> {
        bool ok = false;
        QString location = QInputDialog::getText(m_progress, MessageBoxes::kCaption,
                                                 tr("接続するネットワークの場所 (例: smb://server/share):"),
                                                 QLineEdit::Normal, QString(), &ok);
        if (!ok || location.trimmed().isEmpty()) {
            return std::nullopt;
        }
        return Bytes(location.trimmed());
    };
    BuildWindow();
    FormCreate(arguments);
    m_progress = new TfrmProgress(nullptr);
    connect(m_progress, &TfrmProgress::abortRequested, this, [this] {
        m_driver->Abort();
        // The keyboard goes back to the window the progress window took it from.
        if (isVisible()) {
            activateWindow();
        }
    });
}

TfrmMain::~TfrmMain()
{
    delete m_progress;
}

QPushButton* TfrmMain::AddButton(const char* name, const QString& caption, const QString& hint)
{
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    button->setProperty(kHintProperty, hint);
    button->installEventFilter(this);
    return button;
}

QCheckBox* TfrmMain::AddCheckBox(const char* name, const char* caption, const char* hint)
{
    auto* box = new QCheckBox(tr(caption));
    box->setObjectName(name);
    box->setProperty(kHintProperty, tr(hint));
    box->installEventFilter(this);
    return box;
}

void TfrmMain::BuildWindow()
{
    setObjectName("TfrmMain");
    setWindowTitle(MessageBoxes::kCaption);
    setWindowIcon(ParvaneIcon());
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    // Banner.
    auto* banner = new QFrame;
    banner->setObjectName("pnlBanner");
    banner->setFixedHeight(57);
    banner->setAutoFillBackground(true);
    QPalette bannerPalette = banner->palette();
    bannerPalette.setColor(QPalette::Window, QColor(128, 128, 128));
    bannerPalette.setColor(QPalette::WindowText, Qt::white);
    banner->setPalette(bannerPalette);
    auto* bannerLayout = new QHBoxLayout(banner);
    bannerLayout->setContentsMargins(4, 3, 12, 3);
    m_animation = new CopyAnimation;
    m_animation->setFixedSize(m_animation->sizeHint());
    bannerLayout->addWidget(m_animation);
    bannerLayout->addStretch();
    m_notice = new QLabel(QString::fromUtf8(kMakerNotice));
    m_notice->setObjectName("lblNotice");
    m_notice->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bannerLayout->addWidget(m_notice);
    layout->addWidget(banner);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 0, 8, 0);
    layout->addLayout(body, 1);

    // Caption row.
    auto* captionRow = new QHBoxLayout;
    auto* listCaption = new QLabel(tr(" コピーセット(&C)"));
    listCaption->setObjectName("lblCopySet");
    m_fileName = new PathLabel;
    m_fileName->setObjectName("lblCopysetFileName");
    captionRow->addWidget(listCaption);
    captionRow->addWidget(m_fileName, 1);
    body->addLayout(captionRow);

    // List and the right column of buttons.
    auto* middle = new QHBoxLayout;
    m_list = new QTreeView;
    m_list->setObjectName("lvwCopySet");
    m_list->setModel(m_sets);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->header()->setSectionsClickable(true);
    m_list->header()->setSortIndicatorShown(false);
    m_list->header()->setStretchLastSection(false);
    m_list->setProperty(kHintProperty, tr("コピーセットは、コピー元とコピー先の組合せのことです。"));
    m_list->installEventFilter(this);
    listCaption->setBuddy(m_list);
    middle->addWidget(m_list, 1);

    auto* rightColumn = new QVBoxLayout;
    m_exeCopy = AddButton("cmdExeCopy", tr("実行(&R)"), tr("選択されたコピーセットのコピーを実行します。"));
    m_exeCopyAll =
        AddButton("cmdExeCopyAll", tr("すべて実行(&A)"), tr("すべてのコピーセットのコピーを実行します。"));
    m_showLog = AddButton("cmdShowLog", tr("ログ表示(&G)"), tr("最後に実行したコピーのログを表示します。"));
    m_help = AddButton("cmdHelp", tr("ヘルプ(&H)"), tr("バージョン情報＆操作説明を表示します。"));
    m_end = AddButton("cmdEnd", tr("終了(&X)"), tr("終了します。"));
    for (QPushButton* button : {m_exeCopy, m_exeCopyAll, m_showLog, m_help, m_end}) {
        rightColumn->addWidget(button);
    }
    rightColumn->addStretch();
    m_exeCopy->setDefault(true);
    middle->addLayout(rightColumn);
    body->addLayout(middle, 1);

    // Bottom row of buttons.
    auto* bottomRow = new QHBoxLayout;
    m_open = AddButton("cmdOpen", tr("開く(&O)"), tr("コピーセットの保存されたファイルを開きます。"));
    m_addSet = AddButton("cmdAddSet", tr("追加(&N)"), tr("新しいコピーセットを追加します。"));
    m_editSet = AddButton("cmdEditSet", tr("編集(&E)"), tr("選択されたコピーセットを編集します。"));
    m_deleteSet = AddButton("cmdDeleteSet", tr("削除(&D)"), tr("選択されたコピーセットを削除します。"));
    m_up = AddButton("cmdUp", tr("↑上へ(&U)"), tr("コピーセットを１つ上に移動します。"));
    m_down = AddButton("cmdDown", tr("↓下へ(&F)"), tr("コピーセットを１つ下に移動します。"));
    for (QPushButton* button : {m_open, m_addSet, m_editSet, m_deleteSet, m_up, m_down}) {
        bottomRow->addWidget(button);
    }
    bottomRow->addStretch();
    body->addLayout(bottomRow);

    // Run options and the auto-cycle row.
    auto* group = new QGroupBox(tr("実行オプション"));
    group->setObjectName("grpOption");
    auto* grid = new QVBoxLayout(group);
    auto* options = new QGridLayout;
    auto* row3 = new QHBoxLayout;
    for (const OptionBox& box : kOptionBoxes) {
        m_options[static_cast<std::size_t>(box.option)] = AddCheckBox(box.name, box.caption, box.hint);
    }
    QPalette teal = Option(RunOption::Trash)->palette();
    teal.setColor(QPalette::WindowText, QColor(0, 128, 128));
    Option(RunOption::Trash)->setPalette(teal);
    // Three columns, chkTrash indented under chkDelete.
    options->addWidget(Option(RunOption::Delete), 0, 0);
    options->addWidget(Option(RunOption::SubFolder), 0, 1);
    options->addWidget(Option(RunOption::SystemFile), 0, 2);
    auto* indented = new QHBoxLayout;
    indented->addSpacing(18);
    indented->addWidget(Option(RunOption::Trash), 1);
    options->addLayout(indented, 1, 0);
    options->addWidget(Option(RunOption::Link), 1, 1);
    options->addWidget(Option(RunOption::LogOnly), 1, 2);
    for (int column = 0; column < 3; ++column) {
        options->setColumnStretch(column, 1);
    }
    row3->addWidget(new QLabel(tr("自動サイクル実行")));
    m_interval = new QLineEdit("0");
    m_interval->setObjectName("txtInterval");
    m_interval->setReadOnly(true);
    m_interval->setFixedWidth(48);
    m_interval->setAlignment(Qt::AlignRight);
    QPalette grey = m_interval->palette();
    grey.setColor(QPalette::Base, palette().color(QPalette::Button));
    m_interval->setPalette(grey);
    m_interval->setProperty(kHintProperty,
                            tr("自動サイクル実行の実行時間間隔(分)です。ゼロの場合は自動実行されません。"));
    m_interval->installEventFilter(this);
    m_upDown = new UpDown;
    m_upDown->setObjectName("udInterval");
    m_upDown->SetRange(0, 1440);
    m_upDown->setFixedHeight(m_interval->sizeHint().height());
    m_upDown->setProperty(kHintProperty, tr("自動サイクル実行の時間間隔を指定します。"));
    m_upDown->installEventFilter(this);
    m_setInterval = AddButton("cmdSetInterval", tr("設定"),
                              tr("自動サイクル実行の時間間隔を設定し、タイマを起動します。"));
    row3->addWidget(m_interval);
    row3->addWidget(m_upDown);
    row3->addWidget(new QLabel(tr("分おき")));
    row3->addWidget(m_setInterval);
    row3->addStretch();
    grid->addLayout(options);
    grid->addLayout(row3);
    body->addWidget(group);
    setCentralWidget(central);

    // Status bar with its two panels.
    QStatusBar* bar = statusBar();
    bar->setObjectName("sbrStatus");
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        m_panel[i] = new QLabel;
        m_panel[i]->setObjectName(i == 0 ? "sbrStatusPanel0" : "sbrStatusPanel1");
        m_panel[i]->setFixedWidth(i == 0 ? kStatusPanelWidth : 110);
        m_panel[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(m_panel[i]);
    }
    m_panel[1]->setAlignment(Qt::AlignCenter);

    m_exeCopy->setEnabled(false);
    m_exeCopyAll->setEnabled(false);
    m_editSet->setEnabled(false);
    m_deleteSet->setEnabled(false);
    m_up->setEnabled(false);
    m_down->setEnabled(false);
    m_setInterval->setEnabled(false);
    for (QPushButton* button : {m_editSet, m_deleteSet, m_exeCopy, m_up, m_down, m_exeCopyAll}) {
        m_savedEnabled.emplace_back(button, false);
    }

    m_timAutoExec = new QTimer(this);
    m_timAutoExec->setObjectName("timAutoExec");

    connect(m_exeCopy, &QPushButton::clicked, this, [this] { ExeCopyLoop(false); });
    connect(m_exeCopyAll, &QPushButton::clicked, this, [this] { ExeCopyLoop(true); });
    connect(m_showLog, &QPushButton::clicked, this, [this] { ShowCopyResult(); });
    connect(m_help, &QPushButton::clicked, this, [this] { cmdHelpClick(); });
    connect(m_end, &QPushButton::clicked, this, &QWidget::close);
    // The commands that change the list or the current file, and the list's own events, wait
    // for the end of a run.
    connect(m_open, &QPushButton::clicked, this, WhenIdle(&TfrmMain::cmdOpenClick));
    connect(m_addSet, &QPushButton::clicked, this, WhenIdle(&TfrmMain::cmdAddSetClick));
    connect(m_editSet, &QPushButton::clicked, this, WhenIdle(&TfrmMain::cmdEditSetClick));
    connect(m_deleteSet, &QPushButton::clicked, this, WhenIdle(&TfrmMain::cmdDeleteSetClick));
    connect(m_up, &QPushButton::clicked, this, WhenIdle(&TfrmMain::cmdUpClick));
    connect(m_down, &QPushButton::clicked, this, WhenIdle(&TfrmMain::cmdDownClick));
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            WhenIdle(&TfrmMain::lvwCopySetSelectItem));
    connect(m_list, &QAbstractItemView::doubleClicked, this, WhenIdle(&TfrmMain::cmdEditSetClick));
    connect(m_list->header(), &QHeaderView::sectionClicked, this, WhenIdle(&TfrmMain::lvwCopySetColumnClick));
    connect(Option(RunOption::Delete), &QCheckBox::clicked, this, [this] { chkDeleteClick(); });
    m_list->viewport()->installEventFilter(this);
    connect(m_upDown, &UpDown::positionChanged, this, [this](int position) { udIntervalChanging(position); });
    connect(m_setInterval, &QPushButton::clicked, this, [this] { cmdSetIntervalClick(); });
    connect(m_timAutoExec, &QTimer::timeout, this, [this] { timAutoExecTimer(); });
    resize(kDesignWidth, kDesignHeight);
    // The least size the window takes: a Qt window can't veto a resize the window manager has
    // already made, so the limit is given to it beforehand.
    setMinimumSize(kLeastWidth + 1, kLeastHeight + 1);
}

bool TfrmMain::FormCanResize(int newWidth, int newHeight)
{
    return newWidth > kLeastWidth && newHeight > kLeastHeight;
}

void TfrmMain::FormCreate(const StartupArguments& arguments)
{
    // The stored place comes first: a box shown before it would leave the window to be placed by
    // its inner area, one title bar lower each time.
    RestoreGeometry();
    m_copysetFile = arguments.copySetFile;
    bool exists = FileExists(m_copysetFile);
    // Three or more arguments name no file: there is nothing to save to at the end.
    m_saveAllowed = arguments.interpreted;
    if (exists) {
        OpenCopysetFile();
        // Running only the sets read before the error would look like a run of the whole file.
        if (arguments.unattendedRequested && !m_saveAllowed && arguments.interpreted) {
            m_unattendedStartFailed = true;
            MessageBoxes::ToStandardError("コピーセットファイル '" + m_copysetFile + "' を読めません");
        }
    } else if (arguments.anyGiven) {
        ShowMessage({TrBytes(tr("'%1' が見つかりません！"), {m_copysetFile}), MessageIcon::Exclamation,
                     MessageButtons::Ok});
    }
    m_driver->SetUnattended(exists && arguments.unattendedRequested && !m_unattendedStartFailed);
    UpdateRunAllButton();
    m_fileName->SetPath(Text(m_copysetFile));
    RestoreSettings();
    for (int& direction : m_sortDirection) {
        direction = 1;
    }
}

void TfrmMain::RestoreGeometry()
{
    int width = m_settings.ReadInt(kStartup, "Width", 0);
    if (width > 0) {
        int left = m_settings.ReadInt(kStartup, "Left", 30);
        int top = m_settings.ReadInt(kStartup, "Top", 30);
        int height = m_settings.ReadInt(kStartup, "Height", 461);
        // Stored with the frame; a place left on a screen that is gone comes back onto one.
        const QRect outer = WindowFrame::OntoScreen(QRect(left, top, width, height));
        // Before the window exists, a move places its frame, not its inner area.
        move(outer.topLeft());
        WindowFrame::ResizeOuter(this, outer.size());
        setProperty("geometryRestored", true);
    }
}

void TfrmMain::RestoreSettings()
{
    for (int i = 0; i < 4; ++i) {
        int fallback = kColumnDefaults[i];
        if (i == 2) {
            // Wide enough for a whole stamp in the list's font, with the cell's margins.
            const int margins =
                2 * (m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1);
            fallback =
                std::max(fallback, m_list->fontMetrics().horizontalAdvance(kWidestStamp) + margins + 8);
        }
        m_list->setColumnWidth(i, m_settings.ReadInt(kStartup, kColumnKeys[i], fallback));
    }
    for (const OptionBox& box : kOptionBoxes) {
        Option(box.option)->setChecked(m_settings.ReadInt(kSetting, box.name, 0) == -1);
    }
    chkDeleteClick();
    int interval = m_settings.ReadInt(kSetting, "AutoInterval", 0);
    int before = m_upDown->Position();
    m_upDown->SetPosition(interval);
    m_interval->setText(QString::number(m_upDown->Position()));
    if (m_upDown->Position() != before) {
        m_setInterval->setEnabled(true);
    }
}

void TfrmMain::WriteSettings()
{
    // The place and size of the frame, so that the window comes back where it was.
    const QRect outer = frameGeometry();
    m_settings.WriteInt(kStartup, "Left", outer.x());
    m_settings.WriteInt(kStartup, "Top", outer.y());
    m_settings.WriteInt(kStartup, "Width", outer.width());
    m_settings.WriteInt(kStartup, "Height", outer.height());
    for (int i = 0; i < 4; ++i) {
        m_settings.WriteInt(kStartup, kColumnKeys[i], m_list->columnWidth(i));
    }
    for (const OptionBox& box : kOptionBoxes) {
        m_settings.WriteInt(kSetting, box.name, Option(box.option)->isChecked() ? -1 : 0);
    }
    m_settings.WriteInt(kSetting, "AutoInterval", m_upDown->Position());
    m_settings.Sync();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_firstActivation) {
        if (!property("geometryRestored").toBool()) {
            move(WindowFrame::CentredOnScreen(WindowFrame::OuterSize(this), this));
        }
        // The unattended run starts once the window is up and the event loop runs; it does not
        // wait for the window manager to activate the window.
        QTimer::singleShot(0, this, [this] { FormActivate(); });
    }
}

void TfrmMain::FormActivate()
{
    if (!m_firstActivation) {
        return;
    }
    m_firstActivation = false;
    if (m_unattendedStartFailed) {
        m_exitCode = kExitNotStarted;
        QCoreApplication::exit(m_exitCode);
        return;
    }
    if (m_driver->IsUnattended()) {
        repaint();
        m_driver->ExeCopyLoop(true);
        for (const std::string& line : m_driver->Report()) {
            MessageBoxes::ToStandardError(line);
        }
        switch (m_driver->LastOutcome()) {
        case RunOutcome::NotStarted:
        case RunOutcome::Completed:
            m_exitCode = kExitDone;
            break;
        case RunOutcome::CompletedWithFailures:
            m_exitCode = kExitFailures;
            break;
        case RunOutcome::Stopped:
            m_exitCode = kExitStopped;
            break;
        }
        // Ends without closing the window: the list is saved, the settings are not.
        QCoreApplication::exit(m_exitCode); // unlike quit(), closes no window, so no settings are written
    }
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (m_driver->IsRunning()) {
        // Never destroy the window under a running engine: abort, and close once the run is over.
        m_closeAfterRun = true;
        m_driver->Abort();
        event->ignore();
        return;
    }
    WriteSettings();
    m_timAutoExec->stop();
    m_progress->hide();
    event->accept();
}

bool TfrmMain::FormDestroy()
{
    if (!m_saveAllowed) {
        return OfferToSavePartialList();
    }
    if (!SaveCopysetFile()) {
        if (m_driver->IsUnattended()) {
            // The new last-run stamps are lost: the run is not done as far as its user can see.
            MessageBoxes::ToStandardError("コピーセットファイル '" + m_copysetFile + "' を保存できません");
            m_exitCode = std::max(m_exitCode, kExitStopped);
        }
        return false;
    }
    return true;
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    // Enter presses a focused button, and runs the selected copy sets anywhere else in the window:
    // cmdExeCopy is the window's default button. Controls that have a use for Enter keep it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        QPushButton* button = focused && isAncestorOf(focused) ? focused : m_exeCopy;
        event->accept();
        if (button->isEnabled() && button->isVisible()) {
            button->click();
        }
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
        // A control without a hint shows none: the hint of the control left goes with it.
        QVariant hint = watched->property(kHintProperty);
        if (hint.isValid() && !m_driver->IsRunning()) {
            m_panel[0]->setText(event->type() == QEvent::Enter ? hint.toString() : QString());
        }
    }
    if (watched == m_interval && event->type() == QEvent::KeyPress) {
        // The interval's box and its spin control are one control: the arrow keys step it.
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(m_upDown, event);
            return true;
        default:
            break;
        }
    }
    const bool listLeft = m_list && watched == m_list && event->type() == QEvent::FocusOut;
    const bool listClicked =
        m_list && watched == m_list->viewport() && event->type() == QEvent::MouseButtonRelease;
    if (listLeft || listClicked) {
        const auto leave = WhenIdle(&TfrmMain::lvwCopySetExit);
        leave();
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- copy-set file ---------------------------------------------------------------------------

void TfrmMain::OpenCopysetFile()
{
    std::vector<CopySet> sets;
    int error = ReadCopySetFile(m_copysetFile, sets);
    m_sets->Reset(std::move(sets));
    if (error != 0) {
        // The list holds only part of the file: saving it would destroy the rest.
        m_saveAllowed = false;
        m_partialList = true;
        MessageBoxes::Show(isVisible() ? this : nullptr,
                           {IoErrorText(error)
                                + TrBytes(tr("\r\n\r\n読み込めた分だけを表示します。"
                                             "一覧はこのファイルには保存されません。")),
                            MessageIcon::Error, MessageButtons::Ok, false, false});
    }
}

bool TfrmMain::OfferToSavePartialList()
{
    if (!m_sets->IsEdited()) {
        return true;
    }
    const std::string question = m_partialList
        ? TrBytes(tr("'%1' は最後まで読めなかったため、変更した一覧を保存していません。\r\n"
                     "別の名前で保存しますか？"),
                  {m_copysetFile})
        : TrBytes(tr("コピーセットファイルが指定されていないため、変更した一覧を保存していません。\r\n"
                     "別の名前で保存しますか？"));
    while (ShowMessage({question, MessageIcon::Question, MessageButtons::YesNo}) == MessageAnswer::Yes) {
        OpenFileRequest request;
        request.title = tr("コピーセットを別の名前で保存");
        request.filters =
            QStringList{tr("コピーセットファイル(*.DAT) (*.dat)"), tr("すべてのファイル(*.*) (*)")};
        request.defaultSuffix = "dat";
        std::string folder = ExtractFolder(m_copysetFile);
        request.directory =
            QFile::decodeName(QByteArray::fromStdString(folder.empty() ? m_programFolder : folder));
        std::optional<QString> chosen = Dialogs::AskSaveFile(isVisible() ? this : nullptr, request);
        if (!chosen) {
            continue;
        }
        const std::string path = QFile::encodeName(*chosen).toStdString();
        if (m_partialList && SameFile(path, m_copysetFile)) {
            // Its unread part would be lost.
            ShowMessage({TrBytes(tr("'%1' には保存できません。別の名前を指定してください。"), {path}),
                         MessageIcon::Exclamation, MessageButtons::Ok});
            continue;
        }
        if (int error = WriteCopySetFile(path, m_sets->Sets()); error != 0) {
            ShowFileError(error);
            continue;
        }
        return true;
    }
    return false;
}

bool TfrmMain::SaveCopysetFile()
{
    int error = WriteCopySetFile(m_copysetFile, m_sets->Sets());
    if (error != 0) {
        ShowFileError(error);
        return false;
    }
    return true;
}

void TfrmMain::ShowFileError(int error)
{
    MessageBoxes::Show(isVisible() ? this : nullptr,
                       {IoErrorText(error), MessageIcon::Error, MessageButtons::Ok, false, false});
}

// --- commands ---------------------------------------------------------------------------------

void TfrmMain::ExeCopyLoop(bool all)
{
    m_driver->ExeCopyLoop(all);
    if (m_closeAfterRun && !m_driver->IsRunning()) {
        m_closeAfterRun = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TfrmMain::ShowCopyResult()
{
    TfdlgCopyResult dialog(Text(m_engine->LogPath()), m_settings, nullptr);
    Dialogs::Exec(dialog);
}

void TfrmMain::ToggleCmdEnbl(bool enable)
{
    for (auto& [button, saved] : m_savedEnabled) {
        if (!enable) {
            saved = button->isEnabled();
        }
        button->setEnabled(enable && saved);
    }
    for (QPushButton* button : {m_addSet, m_showLog, m_end, m_open, m_help}) {
        button->setEnabled(enable);
    }
}

void TfrmMain::UpdateSelectionButtons()
{
    bool any = m_list->selectionModel()->hasSelection();
    for (QPushButton* button : {m_editSet, m_deleteSet, m_exeCopy, m_up, m_down}) {
        button->setEnabled(any);
    }
}

void TfrmMain::UpdateRunAllButton()
{
    m_exeCopyAll->setEnabled(m_sets->Count() > 0);
}

void TfrmMain::chkDeleteClick()
{
    Option(RunOption::Trash)->setEnabled(Option(RunOption::Delete)->isChecked());
}

void TfrmMain::lvwCopySetSelectItem()
{
    UpdateSelectionButtons();
}

void TfrmMain::lvwCopySetExit()
{
    UpdateSelectionButtons();
}

int TfrmMain::FirstSelectedRow()
{
    for (int i = 0; i < m_sets->Count(); ++i) {
        if (IsRowSelected(i)) {
            return i;
        }
    }
    return -1;
}

void TfrmMain::SelectRow(int index, bool selected)
{
    m_list->selectionModel()->select(m_sets->index(index, 0),
                                     (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
                                         | QItemSelectionModel::Rows);
}

void TfrmMain::cmdAddSetClick()
{
    TfdlgCopySet dialog(
        *m_volumes, [this](const std::string& path) { return m_driver->GetVolumeName(path); },
        tr("コピーセットの追加"), {}, {}, this);
    if (Dialogs::Exec(dialog) != QDialog::Accepted) {
        return;
    }
    m_sets->Append({dialog.SourcePath(), dialog.TargetPath(), " ", dialog.TargetVolumeName()});
    UpdateRunAllButton();
}

void TfrmMain::cmdEditSetClick()
{
    try {
        int index = FirstSelectedRow();
        if (index < 0) {
            return;
        }
        CopySet set = m_sets->At(index);
        TfdlgCopySet dialog(
            *m_volumes, [this](const std::string& path) { return m_driver->GetVolumeName(path); },
            tr("コピーセットの編集"), set.source, set.target, this);
        if (Dialogs::Exec(dialog) != QDialog::Accepted) {
            return;
        }
        set.source = dialog.SourcePath();
        set.target = dialog.TargetPath();
        set.volumeName = dialog.TargetVolumeName();
        m_sets->Replace(index, set);
    } catch (const std::runtime_error&) {
        // A drive that fails while the dialog asks about it; the copy set stays as it was.
        MessageBoxes::Beep();
    } catch (const std::bad_alloc&) {
        MessageBoxes::Beep();
    }
}

void TfrmMain::cmdDeleteSetClick()
{
    int index = FirstSelectedRow();
    if (index < 0) {
        return;
    }
    CopySet set = m_sets->At(index);
    Message question{
        TrBytes(tr("'%1' から '%2' へのコピーセットを削除していいですか？"), {set.source, set.target}),
        MessageIcon::Question, MessageButtons::YesNo};
    if (ShowMessage(question) != MessageAnswer::Yes) {
        return;
    }
    m_sets->Remove(index);
    UpdateSelectionButtons();
    UpdateRunAllButton();
}

void TfrmMain::cmdOpenClick()
{
    OpenFileRequest request;
    request.title = tr("コピーセットを開く");
    // Only the part before the patterns is shown; *.dat matches whatever the case of the name.
    request.filters = QStringList{tr("コピーセットファイル(*.DAT) (*.dat)"), tr("すべてのファイル(*.*) (*)")};
    request.defaultSuffix = "dat";
    request.fileName = "velmor.dat";
    std::string folder = ExtractFolder(m_copysetFile);
    request.directory =
        QFile::decodeName(QByteArray::fromStdString(folder.empty() ? m_programFolder : folder));
    std::optional<QString> chosen = Dialogs::AskOpenFile(this, request);
    if (!chosen) {
        return;
    }
    // A list that holds only part of its file is not written back over it; the same holds at
    // the end of the program.
    if (!m_saveAllowed) {
        OfferToSavePartialList();
    } else if (!SaveCopysetFile()) {
        return; // list and current file stay as they were
    }
    m_sets->Reset({});
    m_copysetFile = QFile::encodeName(*chosen).toStdString();
    m_fileName->SetPath(Text(m_copysetFile));
    m_saveAllowed = true;
    m_partialList = false;
    if (FileExists(m_copysetFile)) {
        OpenCopysetFile();
    }
    UpdateSelectionButtons();
    UpdateRunAllButton();
}

void TfrmMain::cmdHelpClick()
{
    TfdlgAboutBox about(this, QFile::decodeName(QByteArray::fromStdString(m_programFolder)));
    Dialogs::Exec(about);
}

void TfrmMain::udIntervalChanging(int position)
{
    m_interval->setText(QString::number(position));
    m_setInterval->setEnabled(true);
}

void TfrmMain::ArmAutoExec(int minutes)
{
    m_timAutoExec->stop();
    m_timAutoExec->setInterval(minutes * kMinuteMs);
    if (minutes > 0) {
        m_timAutoExec->start();
    }
}

void TfrmMain::cmdSetIntervalClick()
{
    const int minutes = m_upDown->Position();
    if (minutes == 0) {
        ArmAutoExec(0);
        m_setInterval->setEnabled(false);
        return;
    }
    if (FirstSelectedRow() < 0) {
        ShowMessage({TrBytes(tr("実行するコピーセットを選択してください！")), MessageIcon::Exclamation,
                     MessageButtons::Ok});
        return;
    }
    ShowMessage(
        {TrBytes(tr("自動サイクル実行中はOstrelの一切の設定・実行操作を行わないでください！\r\n"
                    "設定や実行操作が必要な場合は、時間間隔をゼロに設定変更してから行ってください。")),
         MessageIcon::Exclamation, MessageButtons::Ok});
    ArmAutoExec(minutes);
    m_setInterval->setEnabled(false);
}

void TfrmMain::timAutoExecTimer()
{
    // No tick may arrive during the run this one starts. A tick that finds a run in progress, or
    // no copy set selected, runs nothing; the cycle goes on all the same.
    ArmAutoExec(0);
    ExeCopyLoop(false);
    ArmAutoExec(m_upDown->Position());
}

void TfrmMain::lvwCopySetColumnClick(int column)
{
    if (column < 0 || column >= CopySetListModel::ColumnCount) {
        return;
    }
    const int direction = m_sortDirection[column];
    m_sets->sort(column, direction > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
    // The selection stays with its copy sets; the view and the keyboard start again at the top of
    // the list.
    m_list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    m_list->scrollToTop();
    m_sortDirection[column] = -direction;
}

void TfrmMain::ExchangeCopySet(int delta)
{
    const int first = FirstSelectedRow();
    if (first < 0) {
        return;
    }
    const QModelIndex current = m_list->currentIndex();
    if (!m_sets->Move(first, delta)) {
        MessageBoxes::Beep();
        return;
    }
    // Only the moved copy set is selected of the two rows, whatever the other one was, and the
    // keyboard stays on the row it was on.
    SelectRow(first, false);
    SelectRow(first + delta, true);
    if (current.isValid()) {
        m_list->selectionModel()->setCurrentIndex(m_sets->index(current.row(), current.column()),
                                                  QItemSelectionModel::NoUpdate);
    }
}

void TfrmMain::SetNetworkLocationPrompt(std::function<std::optional<std::string>()> prompt)
{
    m_networkPrompt = std::move(prompt);
}

// --- RunHost ----------------------------------------------------------------------------------

QCheckBox* TfrmMain::Option(RunOption option) const
{
    return m_options[static_cast<std::size_t>(option)];
}

bool TfrmMain::IsOptionOn(RunOption option)
{
    return Option(option)->isChecked();
}

void TfrmMain::SetStatusText(int panel, const std::string& text)
{
    // The new text is painted at the next handling of events, which comes within a few
    // milliseconds during a run; painting every text at once would slow the copy down.
    QLabel* label = m_panel[panel == 0 ? 0 : 1];
    label->setText(Text(text));
    if (!m_driver->IsRunning()) {
        label->repaint();
    }
}

bool TfrmMain::IsStatusDue()
{
    // Outside a run every text is shown; during one, a text at most every few milliseconds.
    if (!m_driver->IsRunning() || !m_sinceStatus.isValid() || m_sinceStatus.elapsed() >= kEventIntervalMs) {
        m_sinceStatus.restart();
        return true;
    }
    return false;
}

bool TfrmMain::IsEventDue()
{
    return !m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= kEventIntervalMs;
}

void TfrmMain::ProcessEvents()
{
    if (IsEventDue()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        m_sinceEvents.restart();
    }
}

void TfrmMain::SetWaitCursor(bool on)
{
    if (on != m_waitCursor) {
        m_waitCursor = on;
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    }
}

void TfrmMain::SetBusyCursor(bool on)
{
    if (on != m_busyCursor) {
        m_busyCursor = on;
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    }
}

int TfrmMain::StatusTextWidth(const std::string& text)
{
    return m_panel[0]->fontMetrics().horizontalAdvance(Text(text));
}

const CopySetRows& TfrmMain::CopySets() const
{
    return *m_sets;
}

bool TfrmMain::IsRowSelected(int index)
{
    return index >= 0 && index < m_sets->Count()
        && m_list->selectionModel()->isSelected(m_sets->index(index, 0));
}

MessageAnswer TfrmMain::ShowMessage(const Message& message)
{
    // Before the window is on screen a box has no owner, so it is centred on the screen and the
    // window is not made before its stored place is given.
    QWidget* parent = m_progress && m_progress->isVisible() ? static_cast<QWidget*>(m_progress)
        : isVisible()                                       ? static_cast<QWidget*>(this)
                                                            : nullptr;
    return MessageBoxes::Show(parent, message);
}

void TfrmMain::ShowProgress()
{
    m_progress->SetLabels(QString(), QString());
    m_progress->show();
    m_progress->raise();
    // It takes the keyboard at once, so that Escape aborts without a click into it first.
    m_progress->activateWindow();
    m_progress->repaint();
}

void TfrmMain::SetProgressLabels(const std::string& source, const std::string& target)
{
    m_progress->SetLabels(Text(source), Text(target));
}

int TfrmMain::ProgressTextWidth(const std::string& text)
{
    return m_progress->LabelTextWidth(Text(text));
}

void TfrmMain::CloseProgress()
{
    const bool hadKeyboard = m_progress->isActiveWindow();
    m_progress->hide();
    if (hadKeyboard && isVisible()) {
        activateWindow();
    }
}

std::optional<std::string> TfrmMain::AskNetworkLocation()
{
    return m_networkPrompt ? m_networkPrompt() : std::nullopt;
}

} // namespace ostrel
