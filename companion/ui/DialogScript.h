#pragma once

#include <QString>

#include <vector>

namespace brennick {

// The file and folder dialogs of the companion in tests: when scripted, a dialog is never shown;
// it records what it was asked and takes the next scripted answer (ScriptedAnswers; an empty text
// is a cancel). A dialog that finds none left is counted as unexpected and cancelled.
class DialogScript
{
public:
    enum class Kind { Folder, OpenFile };
    struct Request
    {
        Kind kind;
        QString title;
        QString initialFolder;
        QString filter;
    };

    static bool Scripted();
    static void SetScripted(bool scripted);
    static void PushAnswer(const QString& path);
    static const std::vector<Request>& Requests();
    static int UnexpectedCount();
    static int PendingCount(); // answers scripted and not taken
    static void Reset();

    // For the dialogs: records the request and hands back the next answer.
    static QString Answer(const Request& request);
};

} // namespace brennick
