#include "sentences/Sentences.h"

#include <cerrno>
#include <cstdio>
#include <iterator>

namespace sentence {

namespace {

// The ending of every sentence that stops a run before anything is installed.
const std::string kStopped = "，已停止更新。";
const std::string kRefused = "，已拒绝本次更新。";

}  // namespace

std::string Downloading(const std::string& file)
{
    return "正在下载 " + file + " ";
}

std::string SizeAndDone(int sizeKilobytes, int doneKilobytes)
{
    return "大小 " + std::to_string(sizeKilobytes) + " KB  已下载 " + std::to_string(doneKilobytes) + " KB";
}

std::string ErrorLine(int number)
{
    return "Error line:" + std::to_string(number) + "\n";
}

std::string DownloadFailed(const std::string& file)
{
    return "下载 " + file + " 文件失败";
}

std::string UpdateFailedVisit(const std::string& webUrl)
{
    return "更新失败，请到" + webUrl + "下载最新版本";
}

std::string ManifestEntryUnusable(const std::string& entry)
{
    return "更新清单中的 " + entry + " 无法使用" + kStopped;
}

std::string ManifestEntryUnusable(const std::string& entry, const std::string& reason)
{
    return "更新清单中的 " + entry + " 无法使用（" + reason + "）" + kStopped;
}

std::string NthEntry(std::size_t number)
{
    return "第 " + std::to_string(number) + " 项";
}

std::string InstalledFileUnreadable(const std::string& file, const std::string& reason)
{
    return "已安装的文件 " + file + " 无法读取" + (reason.empty() ? "" : "（" + reason + "）") + kStopped;
}

std::string TempDirIsALink(const std::string& setting)
{
    return "临时目录 " + setting + " 是一个链接" + kStopped;
}

std::string TempDirOutsideInstallation(const std::string& setting)
{
    return "临时目录 " + setting + " 不在安装目录之内" + kStopped;
}

std::string CannotWrite(const std::string& directory)
{
    return "目录 " + directory + " 无法写入" + kStopped;
}

std::string NotEnoughSpace(const std::string& needed, const std::string& directory, const std::string& free)
{
    return "磁盘空间不足：更新需要 " + needed + "，" + directory + " 只有 " + free + " 可用" + kStopped;
}

std::string EntryMethodUnsupported(const std::string& method)
{
    return "压缩方式 " + method + " 不受支持";
}

std::string DiffersOnlyInCaseFrom(const std::string& other)
{
    return "与 " + other + " 只有大小写不同，在 Windows 上是同一个文件";
}

std::string SameFileOnWindowsAs(const std::string& other)
{
    return "与 " + other + " 在 Windows 上是同一个文件";
}

std::string CannotInstall(const std::string& file, const std::string& reason)
{
    return file + " 无法安装（" + reason + "）" + kStopped;
}

std::string CannotUnpack(const std::string& entry, const std::string& reason)
{
    return "更新包中的 " + entry + " 无法解压（" + reason + "）" + kStopped;
}

std::string JournalNotWritten(const std::string& reason)
{
    return "无法记录安装步骤（" + reason + "）" + kStopped;
}

std::string InThePackage(const std::string& sentence)
{
    return "更新包中的 " + sentence;
}

std::string FailureReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return "没有写入权限";
    case EROFS: return "磁盘是只读的";
#ifdef EDQUOT  // no quotas on Windows
    case EDQUOT:
#endif
    case ENOSPC: return "磁盘空间不足";
    case EISDIR:
    case ENOTEMPTY:
    case EEXIST: return "那里已有同名的文件夹";
    case ENOTDIR: return "路径上有同名的文件";
    case ENAMETOOLONG: return "路径太长";
    case ENOENT: return "它所在的文件夹已不存在";
    case EXDEV: return "不在安装目录所在的磁盘上";
    case EIO: return "磁盘读写出错";
    // Windows: another program (the game, a virus scanner) holds the file open.
    case EBUSY:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
        return "文件正被其他程序使用，请关闭游戏后再试";
    default: return "系统错误 " + std::to_string(error);
    }
}

std::string SignatureMissing(const std::string& file)
{
    return file + " 没有签名" + kRefused;
}

std::string SignatureInvalid(const std::string& file)
{
    return file + " 的签名无效" + kRefused;
}

std::string SignedByUntrustedKey(const std::string& file)
{
    return file + " 不是用受信任的密钥签名的" + kRefused;
}

std::string SignatureOfAnotherFile(const std::string& file)
{
    return file + " 的签名属于另一个文件" + kRefused;
}

std::string OlderThanAccepted(const std::string& file)
{
    return file + " 比本机已接受的版本更旧" + kRefused;
}

std::string SignatureExpired(const std::string& file)
{
    return file + " 的签名已过期" + kRefused;
}

std::string ReadableSize(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    // 1023.95 and more would print as 1024.0.
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

}  // namespace sentence
