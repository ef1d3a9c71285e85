#include "companion/ui/frmLog.h"

#include "companion/core/FileReplace.h"
#include "companion/core/LogFields.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/MessageBoxes.h"
#include "companion/ui/Twips.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QListWidget>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace brennick {

namespace {

// The log's list. Any key that moves the selection closes the viewer, also one that finds
// nowhere to move: Up or Home on the first entry, before anything is selected, selects that entry.
class LogList : public QListWidget
{
public:
    using QListWidget::QListWidget;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        QListWidget::keyPressEvent(event);
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (count() > 0 && selectedItems().isEmpty()) {
                setCurrentRow(std::max(currentRow(), 0), QItemSelectionModel::ClearAndSelect);
            }
            break;
        default:
            break;
        }
    }
};

} // namespace

frmLog::frmLog(const std::string& companionFolder, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_iniPath(GetIniPath(companionFolder))
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(tr("ログの表示"));
    resize(TwipsToPixelsX(this, 9735), TwipsToPixelsY(this, 3015));

    // No layout: the list keeps its size when the window is resized.
    List1 = new LogList(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    List1->setUniformItemSizes(true);
    PlaceTwips(List1, 120, 120, 9495, 2760);

    if (owner) {
        const QRect area = owner->frameGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }

    FormLoad();
    connect(List1, &QListWidget::itemSelectionChanged, this, &frmLog::List1Click);
}

void frmLog::FormLoad()
{
    std::string program = GetIniStr(m_iniPath, "Past", "text1", "");
    if (program.empty()) {
        MessageBoxes::Show(parentWidget(), tr("PRVNのディレクトリが指定されていません"));
        return;
    }
    // The folder is what precedes the path's last "/", whatever the executable is called.
    std::string logPath = LogPathFor(program);
    if (logPath.empty()) {
        return;
    }
    // A log that can't be read shows what was read before the failure, without a message.
    std::string text;
    ReadWholeFile(logPath, text);
    List1->clear();
    for (const std::string& field : ReadLogFields(text)) {
        List1->addItem(QString::fromStdString(field));
    }
    vScro(List1);
}

void frmLog::vScro(QListWidget* list)
{
    const QFontMetrics metrics(list->font());
    int width = 0;
    for (int row = 0; row < list->count(); ++row) {
        width = std::max(width, metrics.horizontalAdvance(list->item(row)->text() + QLatin1Char(' ')));
    }
    if (list->count() == 0) {
        return;
    }
    // The item delegate draws the text inside a margin on either side of its row (the style's
    // focus frame margin and one pixel); a row that left them out would cut its text short.
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    width += 2 * margin;
    // Every row is as wide as the extent, so the list scrolls sideways exactly that far.
    const int height = list->sizeHintForRow(0);
    for (int row = 0; row < list->count(); ++row) {
        list->item(row)->setSizeHint(QSize(width, height));
    }
}

void frmLog::List1Click()
{
    if (!List1->selectedItems().isEmpty()) {
        accept();
    }
}

} // namespace brennick
