#include "companion/ui/DialogScript.h"

#include "platform/ScriptedAnswers.h"

namespace brennick {

namespace {

ostrel::ScriptedAnswers<DialogScript::Request, QString>& TheScript()
{
    static ostrel::ScriptedAnswers<DialogScript::Request, QString> script;
    return script;
}

} // namespace

bool DialogScript::Scripted()
{
    return TheScript().IsScripted();
}

void DialogScript::SetScripted(bool scripted)
{
    TheScript().SetScripted(scripted);
}

void DialogScript::PushAnswer(const QString& path)
{
    TheScript().SetNextAnswer(path);
}

const std::vector<DialogScript::Request>& DialogScript::Requests()
{
    return TheScript().Asked();
}

int DialogScript::UnexpectedCount()
{
    return TheScript().UnexpectedCount();
}

int DialogScript::PendingCount()
{
    return static_cast<int>(TheScript().PendingCount());
}

void DialogScript::Reset()
{
    TheScript().Reset();
}

QString DialogScript::Answer(const Request& request)
{
    return TheScript().TakeAnswer(request).value_or(QString());
}

} // namespace brennick
