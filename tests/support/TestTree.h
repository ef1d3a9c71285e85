#pragma once

#include <concepts>
#include <map>
#include <ostream>
#include <string>
#include <utility>

namespace ostrel::test {

// One entry of a tree: its content, as a text, and optionally its last-write time as local
// "yyyy-mm-dd hh:mm:ss". Two entries are equal when both content and time are; an entry without a
// time compares with a text by its content alone.
struct Entry : std::string
{
    Entry() = default;
    Entry(const char* content)
        : std::string(content)
    {
    }
    Entry(std::string content)
        : std::string(std::move(content))
    {
    }
    Entry(std::string content, std::string localTime)
        : std::string(std::move(content))
        , time(std::move(localTime))
    {
    }
    using std::string::operator=;

    std::string time; // empty: no time given, or not read

    // Only for two entries: against a plain text, the text comparison of std::string applies.
    template <std::same_as<Entry> E>
    friend bool operator==(const E& a, const E& b)
    {
        return static_cast<const std::string&>(a) == static_cast<const std::string&>(b) && a.time == b.time;
    }
    friend void PrintTo(const Entry& entry, std::ostream* out)
    {
        *out << '"' << static_cast<const std::string&>(entry) << '"';
        if (!entry.time.empty()) {
            *out << " @ " << entry.time;
        }
    }
};

// A tree held as a value: relative path to entry, with folders written as "name/" and an empty
// content. Links are written as "name@" with their target as content.
using Tree = std::map<std::string, Entry>;

// A folder under the system temp folder (or under parent), named after the running test, removed
// at the end.
class TempFolder
{
public:
    explicit TempFolder(const std::string& parent = "/tmp");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path without a trailing "/".
    const std::string& Path() const { return m_path; }
    // A path inside the folder.
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

// Creates the tree's entries under folder (which is created too when missing), then gives each
// entry that has a time its time.
void MakeTree(const std::string& folder, const Tree& tree);

// Reads a folder back as a tree, without times; a missing folder reads as an empty tree.
Tree ReadTree(const std::string& folder);

// Reads a folder back as a tree whose files carry their last-write times (to the second, local
// time); folders and links carry none, since a pass changes a folder's time by filling it.
Tree ReadTimedTree(const std::string& folder);

// The last-write time of an entry (not of a link's target) as local "yyyy-mm-dd hh:mm:ss".
std::string LocalTime(const std::string& path);

// Writes a file with a content, creating missing folders.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// Sets a last-write time given as local "yyyy-mm-dd hh:mm:ss".
void SetTime(const std::string& path, const std::string& localTime);
// Seconds since the epoch of a local "yyyy-mm-dd hh:mm:ss".
long long LocalSeconds(const std::string& localTime);

// Removes a tree; links are removed as links.
void RemoveTree(const std::string& path);

bool IsRoot();

// The id of a process that has just ended, as a text: what a killed process leaves in file names.
std::string EndedProcessId();

// A folder held in memory (/dev/shm) where the machine has one, otherwise the system temp folder:
// for tests that build and remove many small trees, which a journalled disk makes slow.
std::string MemoryFolder();

} // namespace ostrel::test
