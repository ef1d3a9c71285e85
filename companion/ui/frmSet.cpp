#include "companion/ui/frmSet.h"

#include "companion/core/DesktopShortcut.h"
#include "companion/core/Items.h"
#include "companion/core/modIniFile.h"
#include "companion/core/modSpecialFolder.h"
#include "companion/ui/ByteText.h"
#include "companion/ui/CommonDialog.h"
#include "companion/ui/MessageBoxes.h"
#include "companion/ui/Twips.h"
#include "companion/ui/modSFolder.h"
#include "platform/Volumes.h"
#include "store/CopySetFile.h"
#include "store/IoErrorText.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace brennick {

namespace {

const char* const kNoMainProgram =
    QT_TRANSLATE_NOOP("brennick::frmSet", "先にPRVNのディレクトリを指定して下さい");

// The main program's path: a text box two lines high that wraps a long path. A path is one line,
// so Return inserts nothing and pasted line breaks are dropped.
class PathBox : public QPlainTextEdit
{
public:
    explicit PathBox(QWidget* parent)
        : QPlainTextEdit(parent)
    {
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAnywhere);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setTabChangesFocus(true);
        document()->setDocumentMargin(1);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->ignore();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

    void insertFromMimeData(const QMimeData* source) override
    {
        QString text = source->text();
        text.remove(QLatin1Char('\r'));
        text.remove(QLatin1Char('\n'));
        insertPlainText(text);
    }
};

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QString& tip)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(tip);
    // Return in the name field must not press a button behind the user's back.
    button->setAutoDefault(false);
    return button;
}

QLabel* MakeFolderLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}

// The bytes of a file name Qt hands over as text (from a dialog).
std::string FileNameBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The bytes of an item's file name ride with its row; the text only shows them.
constexpr int kFileNameRole = Qt::UserRole;

std::string RowFileName(const QTreeWidgetItem* row)
{
    return row->data(0, kFileNameRole).toByteArray().toStdString();
}

} // namespace

frmSet::frmSet(const std::string& companionFolder, ostrel::Volumes& volumes, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_companionFolder(companionFolder)
    , m_iniPath(GetIniPath(companionFolder))
    , m_volumes(volumes)
{
    setObjectName(QStringLiteral("frmSet"));
    setWindowTitle(tr("アイテム登録と設定"));
    setFixedSize(TwipsToPixelsX(this, 5415), TwipsToPixelsY(this, 4575));

    Frame1 = new QGroupBox(tr("PRVN本体のディレクトリ"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    PlaceTwips(Frame1, 120, 120, 5175, 855);
    Command1 = MakeButton(Frame1, "Command1", QString(), tr("PRVNのディレクトリを指定します"));
    PlaceTwips(Command1, 120, 240, 375, 495);
    Text1 = new PathBox(Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Text1->setPalette(palette);
    PlaceTwips(Text1, 600, 240, 4455, 495);

    Frame2 = new QGroupBox(tr("Item"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    PlaceTwips(Frame2, 120, 1080, 5175, 1935);
    ListView1 = new QTreeWidget(Frame2);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setToolTip(tr("アイテム名をクリックすると「アイテムの作成」にデータが表示されます"));
    PlaceTwips(ListView1, 120, 240, 4935, 1215);
    Check1 = new QCheckBox(tr("デスクトップ"), Frame2);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setToolTip(tr("デスクトップにショートカットを登録します"));
    PlaceTwips(Check1, 120, 1560, 1215, 255);
    Check2 = new QCheckBox(tr("ログを表示"), Frame2);
    Check2->setObjectName(QStringLiteral("Check2"));
    Check2->setToolTip(tr("実行後ログを表示します"));
    PlaceTwips(Check2, 1440, 1560, 1215, 255);
    Command3 = MakeButton(Frame2, "Command3", tr("更新"), tr("リストを更新表示します"));
    PlaceTwips(Command3, 3120, 1560, 855, 255);
    Command4 = MakeButton(Frame2, "Command4", tr("削除"), tr("リスト中のアイテムを削除します"));
    PlaceTwips(Command4, 4080, 1560, 855, 255);

    Frame3 = new QGroupBox(tr("アイテムの作成"), this);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    PlaceTwips(Frame3, 120, 3120, 5175, 1335);
    Label1 = new QLabel(tr("アイテム名"), Frame3);
    Label1->setObjectName(QStringLiteral("Label1"));
    PlaceTwips(Label1, 120, 240, 975, 255);
    Text3 = new QLineEdit(Frame3);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setToolTip(tr("アイテムのファイル名を指定します"));
    PlaceTwips(Text3, 1200, 240, 2055, 270);
    Command8 = MakeButton(Frame3, "Command8", tr("作成"), tr("各項目入力後アイテムを作成します"));
    PlaceTwips(Command8, 3360, 240, 855, 255);
    Command2 = MakeButton(Frame3, "Command2", tr("入替え"), tr("「コピー元」と「コピー先」を入替えます"));
    PlaceTwips(Command2, 4320, 240, 735, 255);
    Command6 = MakeButton(Frame3, "Command6", tr("コピー元"), tr("コピー元のディレクトリを指定します"));
    PlaceTwips(Command6, 120, 600, 975, 255);
    Label2 = MakeFolderLabel(Frame3, "Label2");
    PlaceTwips(Label2, 1200, 600, 3855, 255);
    Command7 = MakeButton(Frame3, "Command7", tr("コピー先"), tr("コピー先のディレクトリを指定します"));
    PlaceTwips(Command7, 120, 960, 975, 255);
    Label3 = MakeFolderLabel(Frame3, "Label3");
    PlaceTwips(Label3, 1200, 960, 3855, 255);

    if (owner) {
        const QRect area = owner->frameGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }

    connect(Command1, &QPushButton::clicked, this, &frmSet::Command1Click);
    connect(Command2, &QPushButton::clicked, this, &frmSet::Command2Click);
    connect(Command3, &QPushButton::clicked, this, &frmSet::Command3Click);
    connect(Command4, &QPushButton::clicked, this, &frmSet::Command4Click);
    connect(Command6, &QPushButton::clicked, this, &frmSet::Command6Click);
    connect(Command7, &QPushButton::clicked, this, &frmSet::Command7Click);
    connect(Command8, &QPushButton::clicked, this, &frmSet::Command8Click);
    connect(Check1, &QCheckBox::toggled, this, &frmSet::Check1Click);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &frmSet::ListView1DblClick);

    FormLoad();
}

void frmSet::FormLoad()
{
    m_loading = true;
    m_programPath = GetIniStr(m_iniPath, "Past", "text1", "");
    Text1->setPlainText(ShownText(m_programPath));
    // Restoring the box runs its handler, which the loading flag keeps from touching the shortcut.
    Check1->setChecked(GetIniInt(m_iniPath, "Past", "check1", 0) == 1);
    Check2->setChecked(GetIniInt(m_iniPath, "Past", "check2", 1) == 1);
    Command1->setText(tr("参\n照"));

    ListView1->setColumnCount(2);
    ListView1->setHeaderLabels({tr("Name"), tr("Subject")});
    ListView1->setColumnWidth(0, TwipsToPixelsX(this, 1500));
    ListView1->setColumnWidth(1, TwipsToPixelsX(this, 3400));
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->header()->setStretchLastSection(false);

    m_loading = false;
    Command3Click();
}

void frmSet::done(int result)
{
    FormUnload();
    QDialog::done(result);
}

void frmSet::FormUnload()
{
    // Settings writes that fail are not reported; the values are then lost at the end.
    const std::string program = MainProgramPath();
    PutIniStr(m_iniPath, "Past", "text1", program);
    PutIniStr(m_iniPath, "Past", "check1", Check1->isChecked() ? "1" : "0");
    PutIniStr(m_iniPath, "Past", "check2", Check2->isChecked() ? "1" : "0");
    emit mainProgramPathChanged(QByteArray::fromStdString(program));
}

std::string frmSet::MainProgramPath() const
{
    return BytesOf(Text1->toPlainText(), m_programPath);
}

std::string frmSet::kGetVolume(const std::string& path) const
{
    if (path.empty() || path.front() != '/') {
        return {};
    }
    return m_volumes.VolumeName(path);
}

void frmSet::Command1Click()
{
    QString chosen = ShowOpenFile(this, tr("対象ファイルの指定"), ShownText(m_companionFolder),
                                  tr("PRV200ファイル"), QStringLiteral("Parvane"));
    // A cancelled dialog keeps the path there was rather than losing it at the next close.
    if (!chosen.isEmpty()) {
        m_programPath = FileNameBytes(chosen);
        Text1->setPlainText(ShownText(m_programPath));
    }
}

void frmSet::Command2Click()
{
    if (m_source.empty()) {
        MessageBoxes::Show(this, tr("コピー元が未入力です"));
        Command6->setFocus();
        return;
    }
    if (m_target.empty()) {
        MessageBoxes::Show(this, tr("コピー先が未入力です"));
        Command7->setFocus();
        return;
    }
    const std::string source = m_source;
    SetFolder(Label2, m_source, m_target);
    SetFolder(Label3, m_target, source);
    Text3->clear();
}

void frmSet::Command3Click()
{
    ListView1->clear();
    const std::string folder = DataFolder(m_companionFolder);
    for (const std::string& name : ListItems(folder)) {
        auto* row = new QTreeWidgetItem(ListView1);
        row->setText(0, ShownText(name));
        row->setData(0, kFileNameRole, QByteArray::fromStdString(name));
        row->setText(1, ShownText(ReadItemSummary(folder + name)));
    }
}

void frmSet::Command4Click()
{
    QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const std::string fileName = RowFileName(selected.constFirst());
    if (MessageBoxes::Show(this, tr("%1を削除します。").arg(ShownText(fileName)), BoxButtons::YesNo)
        != BoxAnswer::Yes) {
        return;
    }
    if (int error = DeleteItemFile(m_companionFolder, fileName)) {
        MessageBoxes::Show(
            this, ShownText(fileName) + QStringLiteral("\r\n") + ShownText(ostrel::IoErrorText(error)));
    }
    Command3Click();
}

void frmSet::Command6Click()
{
    ChooseFolder(Label2, m_source, tr("コピー元のフォルダを指定して下さい。"));
}

void frmSet::Command7Click()
{
    ChooseFolder(Label3, m_target, tr("コピー先のフォルダを指定して下さい。"));
}

void frmSet::ChooseFolder(QLabel* label, std::string& folder, const QString& prompt)
{
    if (Text1->toPlainText().isEmpty()) {
        MessageBoxes::Show(this, tr(kNoMainProgram));
        return;
    }
    // A cancelled picker answers with an empty path, which empties the label.
    SetFolder(label, folder,
              FileNameBytes(SelectFolder(prompt, nullptr, QString(), kBifReturnOnlyFsDirs, QString())));
}

void frmSet::SetFolder(QLabel* label, std::string& folder, const std::string& path)
{
    folder = path;
    label->setText(ShownText(path));
}

void frmSet::Command8Click()
{
    const QString name = Text3->text();
    // A name loaded by a double click and left as it is keeps its bytes.
    const std::string nameBytes = BytesOf(name, m_loadedName);
    // The name becomes a file name in DATA; anything that would name another place, a hidden
    // file or nothing at all is refused before anything is asked or written.
    if (ItemNameProblem problem = CheckItemName(nameBytes); problem != ItemNameProblem::None) {
        MessageBoxes::Show(this, ShownText(ItemNameMessage(nameBytes, problem)));
        Text3->setFocus();
        return;
    }
    // An item with an empty folder would mirror from or into a place nobody chose.
    if (m_source.empty()) {
        Command6->setFocus();
        return;
    }
    if (m_target.empty()) {
        Command7->setFocus();
        return;
    }
    if (m_source == m_target) {
        MessageBoxes::Show(this, tr("同じディレクトリです"));
        Command6->setFocus();
        return;
    }
    if (Text1->toPlainText().isEmpty()) {
        MessageBoxes::Show(this, tr(kNoMainProgram));
        return;
    }
    ostrel::CopySet set{m_source, m_target, "", ""};
    if (!ostrel::CanStoreCopySet(set)) {
        MessageBoxes::Show(this, tr("タブや改行を含むフォルダ名はアイテムに登録できません"));
        return;
    }
    const QString question =
        Text1->toPlainText() + QStringLiteral("\r\n") + ShownText(nameBytes) + tr(".datファイルを作成します");
    if (MessageBoxes::Show(this, question, BoxButtons::YesNo) != BoxAnswer::Yes) {
        return;
    }
    set.volumeName = kGetVolume(m_target);
    if (int error = WriteItemFile(m_companionFolder, nameBytes, set)) {
        MessageBoxes::Show(this,
                           ShownText(ItemFilePath(m_companionFolder, nameBytes)) + QStringLiteral("\r\n")
                               + ShownText(ostrel::IoErrorText(error)));
        return;
    }
    Text3->clear();
    SetFolder(Label2, m_source, {});
    SetFolder(Label3, m_target, {});
    Command3Click();
}

void frmSet::Check1Click()
{
    if (m_loading) {
        return;
    }
    // The shortcut follows the box silently; a failure leaves things as they are.
    const std::string desktop = GetDesktopPath();
    if (desktop.empty()) {
        return;
    }
    if (Check1->isChecked()) {
        CreateShortcut(desktop, m_companionFolder);
    } else {
        RemoveShortcut(desktop);
    }
}

void frmSet::ListView1DblClick()
{
    QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const std::string fileName = RowFileName(selected.constFirst());
    m_loadedName = ItemNameOf(fileName);
    Text3->setText(ShownText(m_loadedName));
    // The folders come from the item's whole first line: the summary stops at a comma, which a
    // folder name may hold.
    ItemFolders folders = ReadItemFolders(DataFolder(m_companionFolder) + fileName);
    SetFolder(Label2, m_source, folders.source);
    SetFolder(Label3, m_target, folders.target);
    Command2->setFocus();
}

} // namespace brennick
