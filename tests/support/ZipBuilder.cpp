#include "tests/support/ZipBuilder.h"

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

std::uint32_t Crc32(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

void WriteZip(const std::string& path, const std::vector<ZipItem>& items)
{
    try {
        ZipWriter zip(path);
        for (const ZipItem& item : items) {
            zip.Begin(item, item.raw);
            zip.Write(item.data.data(), item.data.size());
            if (item.raw)
                zip.EndRaw(item.rawUncompressedSize, item.rawCrc);
            else
                zip.End();
        }
        zip.Finish();
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}
