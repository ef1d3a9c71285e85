#pragma once

#include <string>

namespace ostrel {

// One run at a time over one copy log: an advisory lock (flock) on the log file, held for the
// length of a run. Another process that holds it makes TryLock fail at once; a lock left by a
// killed process is released by the kernel with its last descriptor.
class RunLock
{
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    enum class Result {
        Locked, // the lock is held until Unlock
        Busy, // another run holds it
        NoFile, // the log can't be opened or made: no lock, and no log either
    };

    // Opens the log, making it when missing (never emptying it), and takes the lock without waiting.
    Result TryLock(const std::string& logPath);

    // Gives the lock back. A log this lock made and nobody wrote is removed again, so a run that
    // stopped before its first pass leaves the folder as it was.
    void Unlock();

private:
    int m_fd = -1;
    bool m_made = false;
    std::string m_path;
};

} // namespace ostrel
