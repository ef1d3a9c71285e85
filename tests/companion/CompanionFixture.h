#pragma once

#include "FakeVolumes.h"
#include "TestTree.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/DialogScript.h"
#include "companion/ui/MessageBoxes.h"
#include "platform/ScriptedAnswers.h"

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brennick::test {

// A companion folder of its own for each test, with the settings file and DATA inside, and the
// user's folders (HOME, XDG_*) pointed into it so that nothing real is touched.
class CompanionFolder
{
public:
    CompanionFolder()
    {
        qputenv("HOME", QByteArray::fromStdString(Path("home")));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Path("home/.config")));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(Path("home/.local/share")));
        qputenv("XDG_STATE_HOME", QByteArray::fromStdString(Path("home/.local/state")));
        ostrel::test::MakeTree(Path("home"), {});
        ostrel::test::MakeTree(Folder(), {});
    }

    // The temporary folder itself, or a path inside it.
    std::string Path(const std::string& relative = {}) const
    {
        std::string base = m_dir.path().toStdString();
        return relative.empty() ? base : base + "/" + relative;
    }
    // The companion's folder: a name with a blank, as a user's stick might have.
    std::string Folder() const { return Path("brennick dir"); }
    std::string Ini() const { return GetIniPath(Folder()); }
    std::string Data(const std::string& relative = {}) const { return Folder() + "/DATA/" + relative; }
    void WriteIni(const std::string& text) const { ostrel::test::WriteFile(Ini(), text); }
    std::string IniStr(const char* section, const char* key) const
    {
        return GetIniStr(Ini(), section, key, "<none>");
    }

private:
    QTemporaryDir m_dir;
};

// Answers the modal windows that open while a test runs (the set-up window, the log viewer) with
// scripted handlers, polling as a user would look at the screen. A modal window that finds no
// handler left is closed and counted, so no test can block.
class ModalHandler : public QObject
{
public:
    using Handler = std::function<void(QWidget* modal)>;

    ModalHandler()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start();
    }

    void Push(Handler handler) { m_script.SetNextAnswer(std::move(handler)); }
    int Unexpected() const { return m_script.UnexpectedCount(); }
    // The object names of the modal windows seen, in order.
    QStringList Seen() const { return QStringList(m_script.Asked().begin(), m_script.Asked().end()); }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last) {
            return;
        }
        m_last = modal;
        std::optional<Handler> handler = m_script.TakeAnswer(modal->objectName());
        if (!handler) {
            modal->close();
            return;
        }
        (*handler)(modal);
    }

    QTimer m_timer;
    ostrel::ScriptedAnswers<QString, Handler> m_script;
    QPointer<QWidget> m_last;
};

// Resets the scripted boxes and dialogs before each test.
inline void ResetScripts()
{
    MessageBoxes::SetScripted(true);
    MessageBoxes::Reset();
    DialogScript::SetScripted(true);
    DialogScript::Reset();
}

} // namespace brennick::test
