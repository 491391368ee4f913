#pragma once
// The file operations through which an installation's journal is carried out and undone. Every
// change the moves make to the disk goes through one of these calls, so that a test can fail any
// one of them, or end the process right after it, and see what the journal makes of that.
//
// Threads: one installation at a time calls an implementation; the counts of the faulty one are
// atomic all the same. Errors: each call returns false (MakeDirectory: the errno) with errno set,
// as the platform's calls do; nothing is thrown.
//
// A test fails one of these whole calls here; a system call within one, or one of the journal's
// own writes and flushes, or a download's, it fails through the platform's table of file calls
// (platform/FileCalls.h). CFaultyInstallFiles stays a layer of its own: its count is of these
// calls, where the table counts every system call of a kind, the journal's included.

#include <atomic>
#include <string>

class IInstallFiles {
public:
    // Renames the file or link over whatever has the new name; within one file system.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    // The same, or, across file systems, a copy written to the disk that is renamed over the new
    // name before the old one goes.
    virtual bool Move(const std::string& from, const std::string& to) = 0;
    // Gives the file a second name: a hard link, or a copy across file systems.
    virtual bool KeepSecondName(const std::string& existing, const std::string& newName) = 0;
    // Writes what is waiting for the disk of the path's file system.
    virtual bool FlushFileSystem(const std::string& path) = 0;
    // Makes the directory and any missing parent; 0 when it is there, else why not.
    virtual int MakeDirectory(const std::string& path) = 0;

protected:
    ~IInstallFiles() = default;
};

// The system's own operations, over the platform layer.
IInstallFiles& SystemInstallFiles();

// The system's operations, with one chosen call failed, or followed at once by the end of the
// process (SIGKILL, as a power cut or the task manager would end it). The calls of the chosen
// kind are counted from 1 across every installation that uses it.
class CFaultyInstallFiles final : public IInstallFiles {
public:
    enum class Call { Rename, Move, KeepSecondName, FlushFileSystem, MakeDirectory };
    enum class Fault {
        kFail,       // the call is not made, and fails with the error given
        kKillAfter,  // the call is made; when it succeeded the process ends
    };
    CFaultyInstallFiles(Call call, long nth, Fault fault, int error = 0);

    bool Rename(const std::string& from, const std::string& to) override;
    bool Move(const std::string& from, const std::string& to) override;
    bool KeepSecondName(const std::string& existing, const std::string& newName) override;
    bool FlushFileSystem(const std::string& path) override;
    int MakeDirectory(const std::string& path) override;

private:
    // The call's outcome: `made` runs it unless it is the one to fail.
    template <class Made>
    auto Take(Call call, Made made);

    const Call m_call;
    const long m_nth;
    const Fault m_fault;
    const int m_error;
    std::atomic<long> m_count{0};
};
