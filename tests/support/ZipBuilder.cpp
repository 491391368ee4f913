#include "tests/support/ZipBuilder.h"

#include <minizip/zip.h>
#include <stdexcept>
#include <zlib.h>

ZipItem Directory(const std::string& name)
{
    ZipItem item;
    item.name = name;
    item.deflate = false;
    item.external = (040755u << 16) | 0x10;
    return item;
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

std::uint32_t Crc32(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

void WriteZip(const std::string& path, const std::vector<ZipItem>& items)
{
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        throw std::runtime_error("zipOpen64 failed for " + path);
    for (const ZipItem& item : items) {
        zip_fileinfo info{};
        info.dosDate = item.dosDate;
        info.external_fa = item.external;
        int method = item.deflate ? Z_DEFLATED : 0;
        int opened = zipOpenNewFileInZip4(zip, item.name.c_str(), &info, item.localExtra.data(),
                                          static_cast<uInt>(item.localExtra.size()), nullptr, 0, nullptr, method,
                                          Z_DEFAULT_COMPRESSION, item.raw ? 1 : 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                          nullptr, 0, static_cast<uLong>(item.host << 8 | 20), 0);
        if (opened != ZIP_OK)
            throw std::runtime_error("zipOpenNewFileInZip4 failed for " + item.name);
        if (!item.data.empty() &&
            zipWriteInFileInZip(zip, item.data.data(), static_cast<unsigned>(item.data.size())) != ZIP_OK)
            throw std::runtime_error("zipWriteInFileInZip failed for " + item.name);
        int closed = item.raw ? zipCloseFileInZipRaw64(zip, item.rawUncompressedSize, item.rawCrc)
                              : zipCloseFileInZip(zip);
        if (closed != ZIP_OK)
            throw std::runtime_error("zipCloseFileInZip failed for " + item.name);
    }
    if (zipClose(zip, nullptr) != ZIP_OK)
        throw std::runtime_error("zipClose failed for " + path);
}
