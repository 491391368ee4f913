#include "archive/ZipReader.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <minizip/unzip.h>
#include <optional>
#include <string_view>

#include "archive/LittleEndian.h"
#include "archive/EntryPath.h"
#include "archive/ReadAheadFile.h"
#include "archive/Zip64Entry.h"
#include "platform/AtomicFile.h"
#include "platform/Descriptor.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/TextEncoding.h"

namespace {

// Large pieces make extraction faster; the buffer is allocated once per reader.
constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kBadPassword = -106;
constexpr std::uint64_t kFileTimeEpochOffset = 11644473600ull;  // seconds from 1601 to 1970
constexpr unsigned long kUtf8NameFlag = 0x800;  // the language-encoding flag: the name is UTF-8
// A Unix host's file type in the high half of the external attributes: a zip's, whatever the
// system reading it.
constexpr std::uint32_t kUnixFileType = 0170000, kUnixSymbolicLink = 0120000;

unzFile Handle(void* zip)
{
    return static_cast<unzFile>(zip);
}

std::uint64_t UnixToFileTime(std::int64_t seconds)
{
    return static_cast<std::uint64_t>(seconds + static_cast<std::int64_t>(kFileTimeEpochOffset)) * 10000000ull;
}

FileTimePoint FileTimeToTimePoint(std::uint64_t fileTime)
{
    FileTimePoint time;
    time.nSeconds = static_cast<std::int64_t>(static_cast<time_t>(fileTime / 10000000ull) - static_cast<time_t>(kFileTimeEpochOffset));
    time.nNanoseconds = static_cast<long>(fileTime % 10000000ull) * 100;
    return time;
}

// The DOS date and time (date in the high half) are local time.
std::uint64_t DosTimeToFileTime(std::uint32_t dos)
{
    std::tm local{};
    local.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    local.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    local.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    local.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    local.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    local.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    local.tm_isdst = -1;
    return UnixToFileTime(std::mktime(&local));
}

// A name the creator did not mark as UTF-8 and that is not UTF-8 comes from a Chinese Windows
// tool: GBK, the code page the program's names are in. Converting before the name is cleaned
// and split keeps a GBK trail byte of 0x5C from passing for a '\\'.
std::string DecodedName(const std::string& stored, unsigned long flags)
{
    if (flags & kUtf8NameFlag || IsValidUtf8(stored))
        return stored;
    return GbkToUtf8(stored).value_or(stored);
}

bool MadeOnDos(unsigned host)
{
    return host == 0 || host == 7 || host == 11 || host == 14;
}

std::uint32_t Attributes(std::uint32_t external, unsigned host)
{
    bool directory = external & 0x40000000, readOnly = !(external & 0x00800000);
    bool hidden = false, system = false, archive = true;
    if (MadeOnDos(host)) {
        readOnly = external & 0x01;
        hidden = external & 0x02;
        system = external & 0x04;
        directory = external & 0x10;
        archive = external & 0x20;
    }
    return (directory ? FILE_ATTRIBUTE_DIRECTORY : 0) | (archive ? FILE_ATTRIBUTE_ARCHIVE : 0) |
           (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) | (readOnly ? FILE_ATTRIBUTE_READONLY : 0) |
           (system ? FILE_ATTRIBUTE_SYSTEM : 0);
}

// Applies an extended-timestamp ("UT") record of the local extra field, if there is one.
void ApplyExtendedTimestamp(const unsigned char* extra, std::size_t size, tagZipEntry& entry)
{
    std::size_t at = 0;
    while (size > 4 && at < size - 4) {
        const auto length = static_cast<std::size_t>(LittleEndian(extra + at + 2, 2));
        if (extra[at] == 'U' && extra[at + 1] == 'T') {
            const unsigned char* data = extra + at + 4;
            std::size_t available = std::min(length, size - at - 4);
            if (available < 1)
                return;
            unsigned flags = data[0];
            std::size_t pos = 1;
            for (auto [bit, time] : {std::pair{1u, &entry.mtime}, std::pair{2u, &entry.atime}, std::pair{4u, &entry.ctime}}) {
                if (!(flags & bit))
                    continue;
                if (pos + 4 > available)
                    return;
                *time = UnixToFileTime(static_cast<std::int32_t>(LittleEndian(data + pos, 4)));
                pos += 4;
            }
            return;
        }
        at += 4 + length;
    }
}

// minizip copies stored data and inflates deflated data. It would hand bzip2 data over undecoded
// and refuses every other method.
bool Decompressible(unsigned long method)
{
    return method == 0 || method == Z_DEFLATED;
}

bool IsAbsolute(std::string_view path)
{
    return path.starts_with('\\') || path.starts_with('/') || (path.size() >= 2 && path[1] == ':');
}

}  // namespace

std::unique_ptr<CZipReader> CZipReader::Open(const std::string& strZipFile)
{
    std::string base = CurrentDirectory();
    if (!base.ends_with('/') && !base.ends_with('\\'))
        base += '/';
    zlib_filefunc64_def functions;
    SetReadAheadFileFunctions(functions);
    unzFile zip = unzOpen2_64(ToNativePath(strZipFile).c_str(), &functions);
    if (!zip)
        return nullptr;
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(zip, &info) != UNZ_OK || info.number_entry > 0x7FFFFFFF) {
        unzClose(zip);
        return nullptr;
    }
    std::unique_ptr<CZipReader> reader(new CZipReader);
    if (const std::optional<FileStatus> status = GetFileStatus(strZipFile))
        reader->m_nArchiveSize = status->facts.nSize;
    reader->m_creationMask = FileCreationMask();
    reader->m_hZip = zip;
    reader->m_nFd = OpenForReading(strZipFile);
    reader->m_nEntries = static_cast<int>(info.number_entry);
    reader->m_strBaseDir = base;
    return reader;
}

CZipReader::~CZipReader()
{
    Close();
}

void CZipReader::Close()
{
    if (!m_hZip)
        return;
    if (m_bEntryOpen)
        unzCloseCurrentFile(Handle(m_hZip));
    unzClose(Handle(m_hZip));
    if (m_nFd >= 0)
        CloseDescriptor(m_nFd);
    m_nFd = -1;
    m_hZip = nullptr;
    m_bEntryOpen = false;
    m_buffer = {};
    m_nameBuffer = {};
    m_extraBuffer = {};
}

ZipResult CZipReader::GoTo(int nIndex)
{
    unzFile zip = Handle(m_hZip);
    if (nIndex < m_nCurrent) {
        if (unzGoToFirstFile(zip) != UNZ_OK)
            return ZipResult::Seek;
        m_nCurrent = 0;
    }
    for (; m_nCurrent < nIndex; ++m_nCurrent) {
        if (unzGoToNextFile(zip) != UNZ_OK) {
            // minizip stands on no entry after a failed step: the next look starts from the first.
            m_nCurrent = m_nEntries;
            return ZipResult::Seek;
        }
    }
    return ZipResult::Ok;
}

ZipResult CZipReader::GetEntry(int nIndex, tagZipEntry& entry)
{
    if (!m_hZip || nIndex < -1 || nIndex >= m_nEntries)
        return ZipResult::Args;
    if (nIndex == -1) {
        entry = tagZipEntry{};
        entry.index = m_nEntries;
        return ZipResult::Ok;
    }
    if (nIndex == m_nCachedIndex) {
        entry = m_cached;
        return ZipResult::Ok;
    }
    if (m_bEntryOpen) {
        unzCloseCurrentFile(Handle(m_hZip));
        m_bEntryOpen = false;
    }
    if (ZipResult result = GoTo(nIndex); result != ZipResult::Ok)
        return result;
    tagZipEntry described;
    described.index = nIndex;
    if (ZipResult result = Describe(described); result != ZipResult::Ok)
        return result;
    m_cached = described;
    m_nCachedIndex = nIndex;
    entry = described;
    return ZipResult::Ok;
}

// Describes the entry minizip stands on.
ZipResult CZipReader::Describe(tagZipEntry& entry)
{
    unzFile zip = Handle(m_hZip);
    unz_file_info64 info{};
    // Names and extra fields are at most 64 KiB: the buffers are the reader's, made once.
    m_nameBuffer.resize(65536);
    m_extraBuffer.resize(65536);
    std::vector<unsigned char>& centralExtra = m_extraBuffer;
    if (unzGetCurrentFileInfo64(zip, &info, m_nameBuffer.data(), m_nameBuffer.size(), centralExtra.data(),
                                centralExtra.size(), nullptr, 0) != UNZ_OK)
        return ZipResult::Corrupt;
    const std::string name(m_nameBuffer.data(), std::min<std::size_t>(info.size_filename, m_nameBuffer.size()));
    const std::string decoded = DecodedName(name, info.flag);
    entry.name = CleanedEntryName(decoded);

    const unsigned host = (info.version >> 8) & 0xFF;
    const auto external = static_cast<std::uint32_t>(info.external_fa);
    entry.attr = Attributes(external, host);
    // Every unzip takes a name that ends in a separator for a directory, whatever its attributes:
    // jar leaves them 0.
    if (decoded.ends_with('/') || decoded.ends_with('\\'))
        entry.attr |= FILE_ATTRIBUTE_DIRECTORY;
    if (!MadeOnDos(host)) {
        entry.unix_mode = (external >> 16) & 0777;
        entry.link = ((external >> 16) & kUnixFileType) == kUnixSymbolicLink;
    }
    entry.atime = entry.ctime = entry.mtime = DosTimeToFileTime(static_cast<std::uint32_t>(info.dosDate));
    entry.comp_size = info.compressed_size;
    entry.unc_size = info.uncompressed_size;
    entry.method = static_cast<unsigned>(info.compression_method);
    entry.encrypted = info.flag & 1;
    entry.crc = static_cast<std::uint32_t>(info.crc);
    const std::size_t extraSize = std::min<std::size_t>(info.size_file_extra, centralExtra.size());
    if (HasZip64Record(centralExtra.data(), extraSize)) {
        std::vector<unsigned char> localExtra;
        if (!DescribeZip64Entry(m_nFd, unzGetOffset64(zip), centralExtra.data(), extraSize, entry, localExtra))
            return ZipResult::Corrupt;
        ApplyExtendedTimestamp(localExtra.data(), localExtra.size(), entry);
        return ZipResult::Ok;
    }

    // The local header and its extra field are read by opening the entry, which minizip does
    // only for methods it reads: any other entry keeps its DOS time.
    if (!Decompressible(info.compression_method))
        return ZipResult::Ok;
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return ZipResult::Corrupt;
    entry.data_offset = unzGetCurrentFileZStreamPos64(zip);
    int size = unzGetLocalExtrafield(zip, nullptr, 0);
    std::vector<unsigned char> extra(size > 0 ? static_cast<std::size_t>(size) : 0);
    if (size < 0 || (size > 0 && unzGetLocalExtrafield(zip, extra.data(), static_cast<unsigned>(size)) != size)) {
        unzCloseCurrentFile(zip);
        return ZipResult::Seek;
    }
    unzCloseCurrentFile(zip);
    ApplyExtendedTimestamp(extra.data(), extra.size(), entry);
    return ZipResult::Ok;
}

ZipResult CZipReader::ExtractEntry(int nIndex, const std::string& strTarget)
{
    if (!m_hZip || nIndex < 0 || nIndex >= m_nEntries)
        return ZipResult::Args;
    if (m_bEntryOpen) {
        unzCloseCurrentFile(Handle(m_hZip));
        m_bEntryOpen = false;
    }
    tagZipEntry entry;
    if (ZipResult result = GetEntry(nIndex, entry); result != ZipResult::Ok)
        return result;  // nothing is written from a description that could not be read
    if (ZipResult result = GoTo(nIndex); result != ZipResult::Ok)
        return result;

    const bool absolute = IsAbsolute(strTarget);
    const std::string base = absolute ? std::string() : m_strBaseDir;
    if (entry.attr & FILE_ATTRIBUTE_DIRECTORY) {
        CreatePathDirectories(base, strTarget);
        return ZipResult::Ok;
    }
    const SplitPath split = SplitAtLastSeparator(strTarget);
    const std::string dirPart(split.directory);
    const std::string fileName(split.name);
    // Entries of one directory usually follow each other: its path is made once for all of them.
    if (base + dirPart != m_strLastDir) {
        CreatePathDirectories(base, dirPart);
        m_strLastDir = base + dirPart;
    }
    return entry.link ? WriteLinkEntry(nIndex, entry, base + dirPart + fileName)
                      : WriteFileEntry(entry, base + dirPart + fileName);
}

ZipResult CZipReader::ReadEntryData(int nIndex, std::string& data, std::size_t nMax)
{
    data.clear();
    tagZipEntry entry;
    if (ZipResult result = GetEntry(nIndex, entry); result != ZipResult::Ok)
        return result;
    if (ZipResult result = GoTo(nIndex); result != ZipResult::Ok)
        return result;
    return ForEachDataBlock(entry, [&](const char* block, std::size_t n) {
        data.append(block, std::min(n, nMax - data.size()));
        return data.size() < nMax;
    });
}

// Hands the data of the entry minizip stands on to the sink, block by block, read to the size
// the directory gives and no further, until the sink returns false. Data read to their end have
// their CRC-32 checked.
ZipResult CZipReader::ForEachDataBlock(const tagZipEntry& entry, const std::function<bool(const char*, std::size_t)>& sink)
{
    if (entry.encrypted)
        return ZipResult::Password;  // no password is ever given, and this minizip could not use one
    if (!Decompressible(entry.method))
        return ZipResult::Flate;
    if (m_buffer.empty())
        m_buffer.resize(kBufferSize);
    if (entry.zip64)
        return ReadZip64EntryData(m_nFd, entry, m_buffer, sink);

    unzFile zip = Handle(m_hZip);
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return ZipResult::Corrupt;
    m_bEntryOpen = true;
    ZipResult result = ZipResult::Ok;
    std::uint64_t remaining = entry.unc_size;
    while (remaining > 0) {
        const auto ask = static_cast<unsigned>(std::min<std::uint64_t>(m_buffer.size(), remaining));
        const int n = unzReadCurrentFile(zip, m_buffer.data(), ask);
        if (n <= 0) {
            result = n == kBadPassword ? ZipResult::Password : ZipResult::Flate;
            break;
        }
        remaining -= static_cast<std::uint64_t>(n);
        if (!sink(m_buffer.data(), static_cast<std::size_t>(n)))
            break;
    }
    // minizip checks the CRC-32 as the entry closes, when every byte was read.
    if (unzCloseCurrentFile(zip) == UNZ_CRCERROR && result == ZipResult::Ok && remaining == 0)
        result = ZipResult::Flate;
    m_bEntryOpen = false;
    return result;
}

// Makes the link beside strPath and renames it over strPath: what was there is replaced, never
// written through. A link that would lead out of the directory the archive unpacks into is refused.
ZipResult CZipReader::WriteLinkEntry(int nIndex, const tagZipEntry& entry, const std::string& strPath)
{
    std::string target;
    if (ZipResult result = ReadEntryData(nIndex, target, kMaxLinkTarget + 1); result != ZipResult::Ok)
        return result;
    if (target.size() != entry.unc_size)
        return ZipResult::Flate;
    if (!LinkStaysInside(entry.name, target))
        return ZipResult::NoFile;
    const std::string path = ToNativePath(strPath);
    const std::string part = SiblingTempPath(path);
    if (!CreateSymbolicLink(ToNativePath(target), part))
        return ZipResult::NoFile;
    if (!RenameOver(part, path)) {
        DeleteFile(part);
        return ZipResult::NoFile;
    }
    return ZipResult::Ok;
}

// Copies the entry's data into a file beside strPath, then renames it over strPath.
ZipResult CZipReader::WriteFileEntry(const tagZipEntry& entry, const std::string& strPath)
{
    if (entry.encrypted)
        return ZipResult::Password;
    if (!Decompressible(entry.method))
        return ZipResult::Flate;
    std::optional<CAtomicFile> file;
    try {
        file.emplace(ToNativePath(strPath));
    } catch (const CFileException&) {
        return ZipResult::NoFile;
    }
    ZipResult written = ZipResult::Ok;
    ZipResult result = ForEachDataBlock(entry, [&](const char* block, std::size_t n) {
        try {
            file->Write(block, n);
            return true;
        } catch (const CFileException&) {
            written = ZipResult::Write;
            return false;
        }
    });
    if (result != ZipResult::Ok || written != ZipResult::Ok)
        return result != ZipResult::Ok ? result : written;  // the file's temporary goes with it

    mode_t mode = entry.unix_mode;
    if (!mode) {
        const std::optional<DescriptorFacts> facts = GetDescriptorFacts(file->Descriptor());
        mode = facts ? facts->mode & 0777 : 0;
        if (entry.attr & FILE_ATTRIBUTE_READONLY)
            mode &= ~0222;
    }
    mode &= ~m_creationMask;  // as the umask masks every file this process creates
    SetDescriptorMode(file->Descriptor(), mode);
    SetDescriptorTimes(file->Descriptor(), FileTimeToTimePoint(entry.atime), FileTimeToTimePoint(entry.mtime));
    try {
        file->Commit(false);
    } catch (const CFileException&) {
        return ZipResult::NoFile;
    }
    return ZipResult::Ok;
}

const char* ZipResultText(ZipResult nResult)
{
    switch (nResult) {
    case ZipResult::Ok: return "unpacked";
    case ZipResult::NoFile: return "its file could not be created";
    case ZipResult::Write: return "writing its file failed";
    case ZipResult::Corrupt: return "its local header does not match the central directory";
    case ZipResult::Seek: return "its local header could not be read";
    case ZipResult::Password: return "it is encrypted";
    case ZipResult::Args: return "it is not in the archive";
    case ZipResult::Flate: return "its data are damaged or fail their CRC-32";
    default: return "it failed";
    }
}

void CreatePathDirectories(const std::string& strBase, const std::string& strPath)
{
    CreateDirectoryWithParents(strBase + strPath);
}
