#pragma once

#include "engine/RunDriver.h"

#include <QString>

#include <vector>

class QWidget;

namespace ostrel {

// Every message box of Parvane goes through here: caption "Ostrel", the default beep first unless
// the message says otherwise, the icon and buttons it asks for. Tests switch on scripted mode: the
// boxes are then never shown but answered from the scripted answers (ScriptedAnswers), and a box
// nobody expected, or one given an answer it cannot give, is counted and answered as backed out of.
class MessageBoxes
{
public:
    static MessageAnswer Show(QWidget* parent, const Message& message);

    // The platform's default beep.
    static void Beep();

    // Headless mode, for a program on the offscreen platform, where nobody can see a box: every box
    // is answered at once with its default button and its text goes to standard error.
    static void SetHeadless(bool headless);

    // Writes one message to standard error, "Parvane: " in front of each line.
    static void ToStandardError(const std::string& text);

    // Scripted mode, for tests.
    static void SetScripted(bool scripted);
    static void PushAnswer(MessageAnswer answer);
    static const std::vector<Message>& Shown(); // every box asked for while scripted
    static const std::vector<bool>& ShownOwned(); // for each, whether it had an owner window
    static int UnexpectedCount(); // boxes that found the queue empty
    static int PendingCount(); // answers scripted and not taken
    static int BeepCount();
    static void Reset(); // empties the queue and the records

    static constexpr const char* kCaption = "Ostrel";
};

} // namespace ostrel
