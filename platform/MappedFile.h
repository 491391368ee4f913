#pragma once
// A file's bytes mapped into memory: read whole without a copy on the heap, or written in place
// for a file whose size is known before its bytes. Failures throw CFileException.

#include <cstddef>
#include <cstdint>
#include <string>

class CMappedFile {
public:
    // The file's bytes, read-only.
    static CMappedFile Read(const std::string& strPath);
    // A new file of nSize bytes (what had the name is replaced), to be filled through Data().
    static CMappedFile Create(const std::string& strPath, std::uint64_t nSize);
    ~CMappedFile();
    CMappedFile(CMappedFile&& other) noexcept;
    CMappedFile& operator=(CMappedFile&&) = delete;
    CMappedFile(const CMappedFile&) = delete;

    const char* Data() const { return static_cast<const char*>(m_pData); }
    char* MutableData() { return static_cast<char*>(m_pData); }
    std::size_t Size() const { return m_nSize; }
    // Unmaps the file; what was written stays in it (a flush to the disk is the caller's).
    void Close();

private:
    CMappedFile(std::string strPath, void* pData, std::size_t nSize);
    static void Unmap(void* pData, std::size_t nSize);
    std::string m_strPath;
    void* m_pData = nullptr;
    std::size_t m_nSize = 0;
};
