#pragma once

#include "FakeVolumes.h"
#include "TestTree.h"
#include "companion/core/modIniFile.h"
#include "companion/ui/DialogScript.h"
#include "companion/ui/MessageBoxes.h"

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
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

// Answers the modal windows that open while a test runs (the set-up window, the log viewer) from
// a queue of handlers, polling as a user would look at the screen. A modal window that finds the
// queue empty is closed and counted, so no test can block.
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

    void Push(Handler handler) { m_handlers.push_back(std::move(handler)); }
    int Unexpected() const { return m_unexpected; }
    const QStringList& Seen() const { return m_seen; }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last) {
            return;
        }
        m_last = modal;
        m_seen << modal->objectName();
        if (m_handlers.empty()) {
            ++m_unexpected;
            modal->close();
            return;
        }
        Handler handler = std::move(m_handlers.front());
        m_handlers.pop_front();
        handler(modal);
    }

    QTimer m_timer;
    std::deque<Handler> m_handlers;
    QPointer<QWidget> m_last;
    QStringList m_seen;
    int m_unexpected = 0;
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
