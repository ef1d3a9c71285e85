#include "ui/MessageBoxes.h"

#include "platform/ScriptedAnswers.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <string>

namespace ostrel {

namespace {

ScriptedAnswers<Message, MessageAnswer>& TheScript()
{
    static ScriptedAnswers<Message, MessageAnswer> script;
    return script;
}

// Recorded beside the script while scripted: whether each box had an owner window, and the beeps.
std::vector<bool> g_owned;
int g_beeps = 0;
bool g_headless = false;

// The answer a box gives when the user backs out of it: Escape, or the frame's close button.
MessageAnswer EscapeAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

bool Offers(MessageButtons buttons, MessageAnswer answer)
{
    switch (buttons) {
    case MessageButtons::OkCancel:
        return answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return answer == MessageAnswer::Yes || answer == MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return answer == MessageAnswer::Ok;
}

QMessageBox::Icon BoxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The button a box offers first: the one Enter presses.
MessageAnswer DefaultAnswer(const Message& message)
{
    switch (message.buttons) {
    case MessageButtons::OkCancel:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
        return message.defaultNo ? MessageAnswer::No : MessageAnswer::Yes;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

MessageAnswer ScriptedAnswer(const Message& message, bool owned)
{
    auto& script = TheScript();
    std::optional<MessageAnswer> answer = script.TakeAnswer(message);
    g_owned.push_back(owned);
    if (message.beep) {
        MessageBoxes::Beep();
    }
    if (!answer) {
        return EscapeAnswer(message.buttons);
    }
    // An answer the box cannot give means the script and the program disagree about which box
    // this is; count it like a box nobody expected rather than pass on an impossible answer.
    if (!Offers(message.buttons, *answer)) {
        script.CountUnexpected();
        return EscapeAnswer(message.buttons);
    }
    return *answer;
}

} // namespace

MessageAnswer MessageBoxes::Show(QWidget* parent, const Message& message)
{
    if (TheScript().IsScripted()) {
        return ScriptedAnswer(message, parent != nullptr);
    }
    if (g_headless) {
        // A box on the offscreen platform would wait for ever for a click nobody can give.
        ToStandardError(message.text);
        return DefaultAnswer(message);
    }
    if (message.beep) {
        Beep();
    }

    // The texts keep CR LF line ends; the box wants plain line feeds.
    QString text = QString::fromStdString(message.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QMessageBox box(BoxIcon(message.icon), QString::fromUtf8(kCaption), text, QMessageBox::NoButton, parent);
    // Paths may hold '<' and '&'; never let the box guess at rich text.
    box.setTextFormat(Qt::PlainText);

    struct Choice
    {
        QMessageBox::StandardButton button;
        MessageAnswer answer;
        QPushButton* widget = nullptr;
    };
    std::vector<Choice> choices;
    switch (message.buttons) {
    case MessageButtons::Ok:
        choices = {{QMessageBox::Ok, MessageAnswer::Ok}};
        break;
    case MessageButtons::OkCancel:
        choices = {{QMessageBox::Ok, MessageAnswer::Ok}, {QMessageBox::Cancel, MessageAnswer::Cancel}};
        break;
    case MessageButtons::YesNo:
        choices = {{QMessageBox::Yes, MessageAnswer::Yes}, {QMessageBox::No, MessageAnswer::No}};
        break;
    }

    const MessageAnswer escape = EscapeAnswer(message.buttons);
    for (Choice& choice : choices) {
        choice.widget = box.addButton(choice.button);
        if (choice.answer == escape) {
            box.setEscapeButton(choice.widget);
        }
    }
    QPushButton* defaultButton = choices.front().widget;
    for (const Choice& choice : choices) {
        if (message.defaultNo && choice.answer == MessageAnswer::No) {
            defaultButton = choice.widget;
        }
    }
    box.setDefaultButton(defaultButton);

    box.exec();
    for (const Choice& choice : choices) {
        if (box.clickedButton() == choice.widget) {
            return choice.answer;
        }
    }
    return escape;
}

void MessageBoxes::Beep()
{
    if (TheScript().IsScripted()) {
        ++g_beeps;
        return;
    }
    QApplication::beep();
}

void MessageBoxes::SetHeadless(bool headless)
{
    g_headless = headless;
}

void MessageBoxes::ToStandardError(const std::string& text)
{
    // One line of output for each line of the text; the blank lines that space out a box are left out.
    std::string output;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            output += "Parvane: " + line + "\n";
        }
        start = end + 1;
    }
    std::fputs(output.c_str(), stderr);
    std::fflush(stderr);
}

void MessageBoxes::SetScripted(bool scripted)
{
    TheScript().SetScripted(scripted);
}

void MessageBoxes::PushAnswer(MessageAnswer answer)
{
    TheScript().SetNextAnswer(answer);
}

const std::vector<Message>& MessageBoxes::Shown()
{
    return TheScript().Asked();
}

const std::vector<bool>& MessageBoxes::ShownOwned()
{
    return g_owned;
}

int MessageBoxes::UnexpectedCount()
{
    return TheScript().UnexpectedCount();
}

int MessageBoxes::PendingCount()
{
    return static_cast<int>(TheScript().PendingCount());
}

int MessageBoxes::BeepCount()
{
    return g_beeps;
}

void MessageBoxes::Reset()
{
    TheScript().Reset();
    g_owned.clear();
    g_beeps = 0;
}

} // namespace ostrel
