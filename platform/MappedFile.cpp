#include "platform/MappedFile.h"

#include <utility>

CMappedFile::CMappedFile(std::string strPath, void* pData, std::size_t nSize)
    : m_strPath(std::move(strPath)), m_pData(pData), m_nSize(nSize)
{
}

CMappedFile::CMappedFile(CMappedFile&& other) noexcept
    : m_strPath(std::move(other.m_strPath)), m_pData(other.m_pData), m_nSize(other.m_nSize)
{
    other.m_pData = nullptr;
    other.m_nSize = 0;
}

CMappedFile::~CMappedFile()
{
    Close();
}

void CMappedFile::Close()
{
    if (m_pData)
        Unmap(m_pData, m_nSize);
    m_pData = nullptr;
    m_nSize = 0;
}
