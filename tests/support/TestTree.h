#pragma once

#include <map>
#include <string>

namespace ostrel::test {

// A tree held as a value: relative path to content, with folders written as "name/" and an
// empty content. Links are written as "name@" with their target as content.
using Tree = std::map<std::string, std::string>;

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

// Creates the tree's entries under folder (which is created too when missing).
void MakeTree(const std::string& folder, const Tree& tree);

// Reads a folder back as a tree; a missing folder reads as an empty tree.
Tree ReadTree(const std::string& folder);

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
