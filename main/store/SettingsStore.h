#pragma once

#include <memory>

class QSettings;

namespace ostrel {

// The main program's per-user settings: organisation "Kivora", application "Velmor", groups
// "Startup" and "Setting". Every value is a string holding a decimal integer; a missing value, or
// one that is not an integer, reads as its default. Where the settings file is not a plain file (a
// folder, a FIFO, a link to a device), every value reads as its default and nothing is written.
class SettingsStore
{
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    int ReadInt(const char* group, const char* key, int defaultValue);
    void WriteInt(const char* group, const char* key, int value);

    // Hands the writes to the file system now.
    void Sync();

private:
    std::unique_ptr<QSettings> m_settings; // empty when the settings file can't be a plain file
};

} // namespace ostrel
