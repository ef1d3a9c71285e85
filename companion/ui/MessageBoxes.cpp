#include "companion/ui/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

#include <deque>

namespace brennick {

namespace {

struct Script
{
    bool scripted = false;
    std::deque<BoxAnswer> answers;
    std::vector<MessageBoxes::Shown> shown;
    int unexpected = 0;
};

Script& TheScript()
{
    static Script script;
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
    Script& script = TheScript();
    if (script.scripted) {
        script.shown.push_back({text, buttons});
        if (script.answers.empty()) {
            ++script.unexpected;
            return EscapeAnswer(buttons);
        }
        BoxAnswer answer = script.answers.front();
        script.answers.pop_front();
        if (!Offers(buttons, answer)) {
            ++script.unexpected;
            return EscapeAnswer(buttons);
        }
        return answer;
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
    TheScript().scripted = scripted;
}

void MessageBoxes::PushAnswer(BoxAnswer answer)
{
    TheScript().answers.push_back(answer);
}

const std::vector<MessageBoxes::Shown>& MessageBoxes::ShownBoxes()
{
    return TheScript().shown;
}

QStringList MessageBoxes::ShownTexts()
{
    QStringList texts;
    for (const Shown& shown : TheScript().shown) {
        texts << shown.text;
    }
    return texts;
}

int MessageBoxes::UnexpectedCount()
{
    return TheScript().unexpected;
}

void MessageBoxes::Reset()
{
    Script& script = TheScript();
    script.answers.clear();
    script.shown.clear();
    script.unexpected = 0;
}

} // namespace brennick
