#include "ui/TfdlgCopySet.h"

#include "platform/PathText.h"
#include "platform/TrBytes.h"
#include "platform/Volumes.h"
#include "store/CopySetFile.h"
#include "ui/Fonts.h"
#include "ui/MessageBoxes.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTreeView>

namespace ostrel {

namespace {

// Places in the client area, in pixels.
constexpr int kFrameHeight = 289;
constexpr int kColumnLeft[2] = {16, 281};
constexpr int kHeadingTop = 10;
constexpr int kDriveTop = 28;
constexpr int kDriveHeight = 22;
constexpr int kTreeTop = 54;
constexpr int kTreeHeight = 209;
constexpr int kLabelTop = 266;
constexpr int kLabelHeight = 16;
constexpr int kButtonTop = 295;
constexpr int kButtonWidth = 84;
constexpr int kButtonHeight = 25;

bool IsBelow(const QString& path, const QString& folder)
{
    if (folder == QLatin1String("/")) {
        return path.startsWith(QLatin1Char('/')) && path != folder;
    }
    return path.startsWith(folder + QLatin1Char('/'));
}

QString FromBytes(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

bool IsFolder(const std::string& path)
{
    return QFileInfo(FromBytes(path)).isDir();
}

// Control characters of a name made visible for a message.
std::string Printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = '?';
        }
    }
    return text;
}

// Where the trees stand until a drive is chosen, and after a folder of the copy set was found
// missing: the top of the file system, below which every drive lies.
const QString kEveryDrive = QStringLiteral("/");

// A folder tree that shows whether it has the keyboard: its selected folder is highlighted while
// it has the focus, and greyed while it has not.
class FolderTree : public QTreeView
{
public:
    explicit FolderTree(QWidget* parent)
        : QTreeView(parent)
    {
        QPalette colours = palette();
        colours.setColor(QPalette::Inactive, QPalette::Highlight,
                         colours.color(QPalette::Active, QPalette::Mid));
        colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         colours.color(QPalette::Active, QPalette::Text));
        setPalette(colours);
    }

protected:
    void initViewItemOption(QStyleOptionViewItem* option) const override
    {
        QTreeView::initViewItemOption(option);
        if (!hasFocus()) {
            option->state &= ~QStyle::State_Active;
        }
    }

    void focusInEvent(QFocusEvent* event) override
    {
        QTreeView::focusInEvent(event);
        viewport()->update();
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        QTreeView::focusOutEvent(event);
        viewport()->update();
    }
};

} // namespace

// Shows one folder as the only item at the top of a tree, with everything below it: the folder
// itself, its ancestors (so the model can reach it) and its descendants pass, nothing else.
class FolderRootFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void SetRoot(const QString& root)
    {
        m_root = root;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        auto* model = static_cast<QFileSystemModel*>(sourceModel());
        const QString path = model->filePath(model->index(row, 0, parent));
        return path == m_root || IsBelow(path, m_root) || IsBelow(m_root, path);
    }

private:
    QString m_root = QStringLiteral("/");
};

TfdlgCopySet::TfdlgCopySet(Volumes& volumes, VolumeNameOf volumeName, const QString& caption,
                           const std::string& source, const std::string& target, QWidget* parent)
    : QDialog(parent)
    , m_volumes(volumes)
    , m_volumeName(std::move(volumeName))
{
    setObjectName(QStringLiteral("TfdlgCopySet"));
    setWindowTitle(caption);
    setFont(PGothicFont(12));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("fraFolders"));
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(4, 4, kClientWidth - 8, kFrameHeight - 4);
    frame->lower();

    BuildSide(m_source, "Source", kColumnLeft[0], tr("コピー元"));
    BuildSide(m_target, "Target", kColumnLeft[1], tr("コピー先"));

    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr("キャンセル"), this);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cancel->setAutoDefault(false);
    m_cancel->setGeometry(kClientWidth - 8 - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight);
    m_ok->setGeometry(kClientWidth - 16 - 2 * kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight);

    setTabOrder(m_source.drive, m_source.tree);
    setTabOrder(m_source.tree, m_target.drive);
    setTabOrder(m_target.drive, m_target.tree);
    setTabOrder(m_target.tree, m_ok);
    setTabOrder(m_ok, m_cancel);

    // Both drive boxes start at the drive of the current folder.
    const std::string current = m_volumes.DrivePart(ToBytes(QDir::currentPath()));
    for (Side* side : {&m_source, &m_target}) {
        int index = side->drive->findData(QByteArray::fromStdString(current));
        side->drive->setCurrentIndex(index < 0 ? 0 : index);
    }

    SetRoot(m_source, kEveryDrive);
    SetRoot(m_target, kEveryDrive);

    // A drive chosen re-roots its tree, also the one the box shows already.
    connect(m_source.drive, &QComboBox::activated, this, [this] { drvSourceChange(); });
    connect(m_target.drive, &QComboBox::activated, this, [this] { drvTargetChange(); });
    connect(m_source.drive, &QComboBox::currentIndexChanged, this, [this] { drvSourceChange(); });
    connect(m_target.drive, &QComboBox::currentIndexChanged, this, [this] { drvTargetChange(); });
    connect(m_source.tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { dirSourceChange(); });
    connect(m_target.tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { dirTargetChange(); });
    connect(m_ok, &QPushButton::clicked, this, [this] { cmdOKClick(); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate(source, target);
    ShowSelected(m_source);
    ShowSelected(m_target);
}

TfdlgCopySet::~TfdlgCopySet()
{
    // A model's gatherer thread asks the icon provider for icons until the model is gone, so the
    // models go before the providers they borrow.
    for (Side* side : {&m_source, &m_target}) {
        delete side->filter;
        delete side->model;
    }
}

void TfdlgCopySet::BuildSide(Side& side, const char* name, int left, const QString& heading)
{
    auto* caption = new QLabel(heading, this);
    caption->setObjectName(QStringLiteral("lbl%1Heading").arg(QLatin1String(name)));
    caption->setGeometry(left, kHeadingTop, kLabelWidth, kLabelHeight);

    side.drive = new QComboBox(this);
    side.drive->setObjectName(QStringLiteral("drv%1").arg(QLatin1String(name)));
    side.drive->setGeometry(left, kDriveTop, kLabelWidth, kDriveHeight);
    QFileIconProvider icons;
    for (const std::string& drive : m_volumes.MountedDrives()) {
        const std::string label = m_volumes.VolumeName(drive);
        QString text = FromBytes(drive);
        if (!label.empty()) {
            text += QStringLiteral(" [%1]").arg(QString::fromStdString(label));
        }
        side.drive->addItem(icons.icon(QFileIconProvider::Drive), text, QByteArray::fromStdString(drive));
    }

    side.model = new QFileSystemModel(this);
    side.model->setOption(QFileSystemModel::DontWatchForChanges);
    side.model->setReadOnly(true);
    side.model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    // The widgets' icon provider falls back on the style's folder icon where the desktop has no
    // icon theme; the model's own would show no icon at all there.
    side.icons = std::make_unique<QFileIconProvider>();
    side.model->setIconProvider(side.icons.get());
    side.filter = new FolderRootFilter(this);
    side.filter->setSourceModel(side.model);

    side.tree = new FolderTree(this);
    side.tree->setObjectName(QStringLiteral("dir%1").arg(QLatin1String(name)));
    side.tree->setGeometry(left, kTreeTop, kLabelWidth, kTreeHeight);
    side.tree->setModel(side.filter);
    side.tree->setHeaderHidden(true);
    for (int column = 1; column < side.model->columnCount(); ++column) {
        side.tree->hideColumn(column);
    }
    side.tree->setRootIsDecorated(false);
    side.tree->setSelectionMode(QAbstractItemView::SingleSelection);
    side.tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    side.tree->setUniformRowHeights(true);
    side.tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    side.tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    side.tree->header()->setStretchLastSection(false);

    side.label = new QLabel(this);
    side.label->setObjectName(QStringLiteral("lbl%1").arg(QLatin1String(name)));
    side.label->setGeometry(left, kLabelTop, kLabelWidth, kLabelHeight);
    side.label->setFixedWidth(kLabelWidth);
    side.label->setTextFormat(Qt::PlainText);
}

void TfdlgCopySet::FormCreate(const std::string& source, const std::string& target)
{
    // The trees stay at the top of the file system, from where every drive can be reached.
    QWidget* owner = parentWidget() ? parentWidget() : this;
    if (!source.empty() && !IsFolder(source)) {
        MessageBoxes::Show(owner,
                           {TrBytes(tr("コピー元のフォルダ '%1' は見つかりませんでした！"), {source}),
                            MessageIcon::Exclamation, MessageButtons::Ok});
        return;
    }
    if (!target.empty() && !IsFolder(target)) {
        MessageBoxes::Show(owner,
                           {TrBytes(tr("コピー先のフォルダ '%1' は見つかりませんでした！"), {target}),
                            MessageIcon::Exclamation, MessageButtons::Ok});
        return;
    }
    drvSourceChange();
    drvTargetChange();
}

void TfdlgCopySet::SetRoot(Side& side, const QString& folder)
{
    side.filter->SetRoot(folder);
    side.model->setRootPath(folder);
    const QModelIndex root = side.filter->mapFromSource(side.model->index(folder));
    side.tree->setRootIndex(root.parent());
    side.tree->expand(root);
    side.tree->setCurrentIndex(root);
    side.tree->scrollToTop();
}

void TfdlgCopySet::drvSourceChange()
{
    SetRoot(m_source, FromBytes(m_source.drive->currentData().toByteArray().toStdString()));
}

void TfdlgCopySet::drvTargetChange()
{
    SetRoot(m_target, FromBytes(m_target.drive->currentData().toByteArray().toStdString()));
}

void TfdlgCopySet::dirSourceChange()
{
    ShowSelected(m_source);
}

void TfdlgCopySet::dirTargetChange()
{
    ShowSelected(m_target);
}

std::string TfdlgCopySet::Selected(const Side& side) const
{
    const QModelIndex current = side.tree->currentIndex();
    if (!current.isValid()) {
        return {};
    }
    return ToBytes(side.model->filePath(side.filter->mapToSource(current)));
}

std::string TfdlgCopySet::SelectedSource() const
{
    return Selected(m_source);
}

std::string TfdlgCopySet::SelectedTarget() const
{
    return Selected(m_target);
}

void TfdlgCopySet::ShowSelected(Side& side)
{
    const std::string path = Selected(side);
    if (path.empty()) {
        side.label->clear();
        side.label->setToolTip(QString());
        return;
    }
    const std::string drive = m_volumes.DrivePart(path);
    side.label->setText(FitPath(path, drive.empty() ? drive : AppendDelimiter(drive),
                                side.label->fontMetrics(), kLabelWidth));
    side.label->setToolTip(FromBytes(path));
}

QString TfdlgCopySet::FitPath(const std::string& path, const std::string& drive, const QFontMetrics& metrics,
                              int width)
{
    auto measure = [&metrics](const std::string& text) { return metrics.horizontalAdvance(FromBytes(text)); };
    QString text;
    if (measure(path) > width && drive.size() > 1 && ExtractFolder(path) == drive) {
        // A folder right below the drive has no folder names to give way; the drive goes at once.
        text = FromBytes("..." + std::string(1, kPathDelimiter) + ExtractName(path));
    } else {
        text = FromBytes(ShortenPath(path, width, measure, drive));
    }
    // Only the last name is left and still too wide: cut it, or the label would clip it anyway.
    if (metrics.horizontalAdvance(text) > width) {
        return metrics.elidedText(text, Qt::ElideRight, width);
    }
    return text;
}

bool TfdlgCopySet::RefuseUnstorable(const std::string& source, const std::string& target,
                                    const std::string& volume)
{
    // The copy-set file keeps one set per line with TABs between the fields, so such names would
    // come back as other fields or rows the next time the file is read.
    std::string text;
    for (const std::string& path : {source, target}) {
        if (text.empty() && !CanStoreCopySet({path, path, " ", ""})) {
            text = TrBytes(
                tr("'%1' は名前にタブや改行などの制御文字を含むため、コピーセットとして保存できません！"),
                {Printable(path)});
        }
    }
    if (text.empty() && !CanStoreCopySet({source, target, " ", volume})) {
        text = TrBytes(tr("コピー先のボリューム名 '%1' "
                          "は改行などの制御文字を含むため、コピーセットとして保存できません！"),
                       {Printable(volume)});
    }
    if (text.empty()) {
        return false;
    }
    MessageBoxes::Show(this, {text, MessageIcon::Exclamation, MessageButtons::Ok});
    return true;
}

void TfdlgCopySet::cmdOKClick()
{
    const std::string source = Selected(m_source);
    const std::string target = Selected(m_target);
    if (source.empty() || target.empty()) {
        MessageBoxes::Beep(); // a tree without a selected folder gives nothing to store
        return;
    }
    const std::string volume = m_volumeName(target);
    if (RefuseUnstorable(source, target, volume)) {
        return;
    }
    m_sourcePath = source;
    m_targetPath = target;
    m_targetVolume = volume;
    accept();
}

void TfdlgCopySet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        if (QScreen* screen = this->screen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
}

} // namespace ostrel
