#include "platform/File.h"

#include <cstring>

#include "platform/Path.h"

CFileException::CFileException(int nErrno, const std::string& strFileName)
    : std::runtime_error(ToNativePath(strFileName) + ": " + std::strerror(nErrno)), m_nErrno(nErrno)
{
}

CFile::~CFile()
{
    Abort();
}

bool CFile::Open(const std::string& strFileName, unsigned nOpenFlags, CFileException* pError)
{
    Close();
    m_strFileName = strFileName;
    m_nWritten = m_nWrittenBack = 0;
    m_bDirect = false;
    if (auto error = OpenDescriptor(strFileName, nOpenFlags)) {
        if (pError)
            *pError = CFileException(*error, strFileName);
        return false;
    }
    StartDirect(nOpenFlags);
    return true;
}

CFile::CFile(const std::string& strFileName, unsigned nOpenFlags)
{
    CFileException error(0, strFileName);
    if (!Open(strFileName, nOpenFlags, &error))
        throw error;
}
