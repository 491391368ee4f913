#pragma once
// A binary file opened by path, as the program's file object: reads and writes whole buffers and
// reports every failure as a CFileException carrying the system's text and the file's name.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

class CFileException : public std::runtime_error {
public:
    CFileException(int nErrno, const std::string& strFileName);
    int GetErrno() const { return m_nErrno; }
    std::string GetErrorMessage() const { return what(); }

private:
    int m_nErrno;
};

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,  // create anew: what had the name (a link included) is replaced
        modeKeep = 0x4000,    // an existing file as it is, never one a link at the name points to
        // A hint for a big file that nothing reads soon: writes of whole aligned blocks
        // (kDirectAlignment) go straight to the disk, around the system's cache, which saves
        // copying them there and flushing them later. From the first write that is not such a
        // block on, and where the file system cannot, writes go through the cache as usual.
        modeDirect = 0x8000,
    };
    // What a write must be aligned to, in its address, length and place in the file, to go
    // straight to the disk.
    static constexpr std::size_t kDirectAlignment = 4096;

    CFile() = default;
    // Opens at once; throws CFileException when the file cannot be opened (a directory included).
    CFile(const std::string& strFileName, unsigned nOpenFlags);
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Returns false and fills *pError (when given) instead of throwing.
    bool Open(const std::string& strFileName, unsigned nOpenFlags, CFileException* pError = nullptr);
    bool IsOpen() const { return m_fd >= 0; }
    // Reads up to nCount bytes; fewer only at the end of the file; 0 at the end.
    std::size_t Read(void* pBuffer, std::size_t nCount);
    void Write(const void* pBuffer, std::size_t nCount);
    // Cuts the file to its first nLength bytes (it must not be shorter) and writes on from there.
    void KeepFirst(std::uint64_t nLength);
    // Has the system begin to write what was written so far to the disk, without waiting, once
    // enough has gathered: a flush at the end then finds little left to do.
    void StartWriteBack();
    void Close();
    // Closes without reporting anything: for clean-up after a failure.
    void Abort();
    const std::string& GetFilePath() const { return m_strFileName; }

private:
    // Opens the descriptor; the errno that explains why not, when it cannot.
    std::optional<int> OpenDescriptor(const std::string& strFileName, unsigned nOpenFlags);
    // Begins the direct writes when they are asked for and the file system can.
    void StartDirect(unsigned nOpenFlags);
    // Ends the direct writes unless a write of the buffer may go straight to the disk.
    void EndDirectUnlessAligned(const void* pBuffer, std::size_t nCount);
    void EndDirect();

    int m_fd = -1;
    std::string m_strFileName;
    std::uint64_t m_nWritten = 0;      // by Write since the file was opened
    std::uint64_t m_nWrittenBack = 0;  // of which the write-back has begun
    bool m_bDirect = false;            // writes go straight to the disk
};
