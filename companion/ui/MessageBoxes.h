#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

namespace brennick {

enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

// Every message box of the companion goes through here: the caption "Brennick", no icon, an OK
// or a Yes/No button. Tests switch on scripted mode: the boxes are then never shown but answered
// from the scripted answers (ScriptedAnswers) and recorded, and a box that finds none left (or is
// given an answer it cannot give) is counted as unexpected and answered as if backed out of.
class MessageBoxes
{
public:
    static BoxAnswer Show(QWidget* parent, const QString& text, BoxButtons buttons = BoxButtons::Ok);

    struct Shown
    {
        QString text;
        BoxButtons buttons;
    };

    static void SetScripted(bool scripted);
    static void PushAnswer(BoxAnswer answer);
    static const std::vector<Shown>& ShownBoxes();
    static QStringList ShownTexts();
    static int UnexpectedCount();
    static int PendingCount(); // answers scripted and not taken
    static void Reset();

    static constexpr const char* kCaption = "Brennick";
};

} // namespace brennick
