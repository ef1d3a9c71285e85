#include "companion/ui/MessageBoxes.h"

#include "platform/ScriptedAnswers.h"

#include <QMessageBox>
#include <QPushButton>

namespace brennick {

namespace {

ostrel::ScriptedAnswers<MessageBoxes::Shown, BoxAnswer>& TheScript()
{
    static ostrel::ScriptedAnswers<MessageBoxes::Shown, BoxAnswer> script;
    return script;
}

// The answer of a box that the user closes with Escape or the frame's close button.
BoxAnswer EscapeAnswer(BoxButtons buttons)
{
    return buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
}

bool Offers(BoxButtons buttons, BoxAnswer answer)
{
    return buttons == BoxButtons::YesNo ? answer != BoxAnswer::Ok : answer == BoxAnswer::Ok;
}

} // namespace

BoxAnswer MessageBoxes::Show(QWidget* parent, const QString& text, BoxButtons buttons)
{
    auto& script = TheScript();
    if (script.IsScripted()) {
        std::optional<BoxAnswer> answer = script.TakeAnswer({text, buttons});
        if (!answer) {
            return EscapeAnswer(buttons);
        }
        if (!Offers(buttons, *answer)) {
            script.CountUnexpected();
            return EscapeAnswer(buttons);
        }
        return *answer;
    }

    // The texts keep CR LF line ends; the box wants plain line feeds.
    QString shownText = text;
    shownText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kCaption), shownText, QMessageBox::NoButton,
                    parent);
    // Paths may hold '<' and '&'; never let the box guess at rich text.
    box.setTextFormat(Qt::PlainText);
    if (buttons == BoxButtons::YesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? BoxAnswer::Yes : BoxAnswer::No;
    }
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return BoxAnswer::Ok;
}

void MessageBoxes::SetScripted(bool scripted)
{
    TheScript().SetScripted(scripted);
}

void MessageBoxes::PushAnswer(BoxAnswer answer)
{
    TheScript().SetNextAnswer(answer);
}

const std::vector<MessageBoxes::Shown>& MessageBoxes::ShownBoxes()
{
    return TheScript().Asked();
}

QStringList MessageBoxes::ShownTexts()
{
    QStringList texts;
    for (const Shown& shown : TheScript().Asked()) {
        texts << shown.text;
    }
    return texts;
}

int MessageBoxes::UnexpectedCount()
{
    return TheScript().UnexpectedCount();
}

int MessageBoxes::PendingCount()
{
    return static_cast<int>(TheScript().PendingCount());
}

void MessageBoxes::Reset()
{
    TheScript().Reset();
}

} // namespace brennick
