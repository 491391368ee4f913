#include "archive/ZipWriter.h"

#include <minizip/zip.h>
#include <stdexcept>
#include <utility>
#include <zlib.h>

ZipWriter::ZipWriter(const std::string& path) : m_zip(zipOpen64(path.c_str(), APPEND_STATUS_CREATE))
{
    if (!m_zip)
        throw std::runtime_error("cannot be created");
}

ZipWriter::~ZipWriter()
{
    if (m_zip)
        zipClose(m_zip, nullptr);
}

void ZipWriter::Begin(const ZipEntryHeader& header, bool raw)
{
    m_entry = header.name;
    zip_fileinfo info{};
    info.dosDate = header.dosDate;
    info.external_fa = header.external;
    // Version 2.0 is needed to extract; the host system is the upper byte of "made by".
    const uLong madeBy = static_cast<uLong>(header.host << 8 | 20);
    if (zipOpenNewFileInZip4_64(m_zip, header.name.c_str(), &info, header.localExtra.data(),
                                static_cast<uInt>(header.localExtra.size()), nullptr, 0, nullptr,
                                header.deflate ? Z_DEFLATED : 0, Z_DEFAULT_COMPRESSION, raw ? 1 : 0, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, 0, header.zip64 ? 1 : 0) != ZIP_OK)
        throw std::runtime_error("cannot add " + header.name);
}

void ZipWriter::Write(const char* data, std::size_t size)
{
    if (size > 0 && zipWriteInFileInZip(m_zip, data, static_cast<unsigned>(size)) != ZIP_OK)
        throw std::runtime_error("cannot be written");
}

void ZipWriter::End()
{
    if (zipCloseFileInZip(m_zip) != ZIP_OK)
        throw std::runtime_error(m_entry + " cannot be added");
}

void ZipWriter::EndRaw(std::uint64_t uncompressedSize, std::uint32_t crc)
{
    if (zipCloseFileInZipRaw64(m_zip, uncompressedSize, crc) != ZIP_OK)
        throw std::runtime_error(m_entry + " cannot be added");
}

void ZipWriter::Finish()
{
    const int closed = zipClose(m_zip, nullptr);
    m_zip = nullptr;
    if (closed != ZIP_OK)
        throw std::runtime_error("cannot be written");
}

std::uint32_t DosDateTime(std::time_t time)
{
    std::tm local{};
#ifdef _WIN32
    ::localtime_s(&local, &time);
#else
    ::localtime_r(&time, &local);
#endif
    if (local.tm_year < 80)
        return 0x00210000;
    const auto field = [](int value, int shift) { return static_cast<std::uint32_t>(value) << shift; };
    return field(local.tm_year - 80, 25) | field(local.tm_mon + 1, 21) | field(local.tm_mday, 16) |
           field(local.tm_hour, 11) | field(local.tm_min, 5) | field(local.tm_sec / 2, 0);
}

std::string ExtendedTimestamp(unsigned flags, std::int32_t mtime, std::int32_t atime, std::int32_t ctime)
{
    std::string data(1, static_cast<char>(flags));
    for (auto [bit, time] : {std::pair{1u, mtime}, std::pair{2u, atime}, std::pair{4u, ctime}}) {
        if (flags & bit) {
            for (int i = 0; i < 4; ++i)
                data += static_cast<char>((static_cast<std::uint32_t>(time) >> (8 * i)) & 0xFF);
        }
    }
    std::string field = "UT";
    field += static_cast<char>(data.size() & 0xFF);
    field += static_cast<char>(data.size() >> 8);
    return field + data;
}
