#include "companion/ui/DialogScript.h"

#include <deque>

namespace brennick {

namespace {

struct Script
{
    bool scripted = false;
    std::deque<QString> answers;
    std::vector<DialogScript::Request> requests;
    int unexpected = 0;
};

Script& TheScript()
{
    static Script script;
    return script;
}

} // namespace

bool DialogScript::Scripted()
{
    return TheScript().scripted;
}

void DialogScript::SetScripted(bool scripted)
{
    TheScript().scripted = scripted;
}

void DialogScript::PushAnswer(const QString& path)
{
    TheScript().answers.push_back(path);
}

const std::vector<DialogScript::Request>& DialogScript::Requests()
{
    return TheScript().requests;
}

int DialogScript::UnexpectedCount()
{
    return TheScript().unexpected;
}

void DialogScript::Reset()
{
    Script& script = TheScript();
    script.answers.clear();
    script.requests.clear();
    script.unexpected = 0;
}

QString DialogScript::Answer(const Request& request)
{
    Script& script = TheScript();
    script.requests.push_back(request);
    if (script.answers.empty()) {
        ++script.unexpected;
        return {};
    }
    QString answer = script.answers.front();
    script.answers.pop_front();
    return answer;
}

} // namespace brennick
