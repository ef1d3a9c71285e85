#pragma once

#include <memory>

class QSettings;

namespace ostrel {

// The main program's per-user settings: organisation "Kivora", application "Velmor", groups
// "Startup" and "Setting". Every value is a string holding a decimal integer; a missing value, or
// one that is not an integer, reads as its default.
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
    std::unique_ptr<QSettings> m_settings;
};

} // namespace ostrel
