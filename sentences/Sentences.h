#pragma once
// Every sentence the player reads, in one place and in the players' language (Chinese). Each is
// shown as it stands: a run tells the player one of these and writes its cause, in English, to
// the log. The engine folders pair a sentence from here with that cause in a Failure
// (sentences/Failure.h); only app/ shows them. Nothing here fails or reads anything.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sentence {

// The window's own words.
inline constexpr const char* kCaption = "提示";      // of every message box
inline constexpr const char* kOk = "确定";           // the message box's button
std::string Downloading(const std::string& file);   // the status line while a file arrives
std::string SizeAndDone(int sizeKilobytes, int doneKilobytes);

// Why the manifest cannot be used, when a number is all the player is told.
std::string ErrorLine(int number);
// A file that could not be downloaded (the cause is in the log), and what follows it after a failed
// download when the settings name no message of their own.
std::string DownloadFailed(const std::string& file);
std::string UpdateFailedVisit(const std::string& webUrl);

// The manifest cannot be used.
inline constexpr const char* kNotAManifest = "服务器返回的不是更新清单，已停止更新。";
inline constexpr const char* kManifestTooLarge = "更新清单过大，已停止更新。";
inline constexpr const char* kManifestCutShort = "更新清单没有完整下载，已停止更新。";
std::string ManifestEntryUnusable(const std::string& entry);
std::string ManifestEntryUnusable(const std::string& entry, const std::string& reason);
std::string NthEntry(std::size_t number);  // an entry without a name, counted from 1
std::string InstalledFileUnreadable(const std::string& file, const std::string& reason = "");

// The run cannot start.
std::string TempDirIsALink(const std::string& setting);
std::string TempDirOutsideInstallation(const std::string& setting);
std::string CannotWrite(const std::string& directory);
std::string NotEnoughSpace(const std::string& needed, const std::string& directory, const std::string& free);
// A size as the sentences give it: below 1 KiB in bytes ("512 B"), else to a tenth in the largest
// unit that keeps the number below 1024 ("23.4 KB", "1.2 GB").
std::string ReadableSize(std::uint64_t bytes);

// What is wrong with an entry of a package (told after its name).
inline constexpr const char* kEntrySizeWrong = "大小记录有误";
inline constexpr const char* kEntryEncrypted = "文件已加密";
std::string EntryMethodUnsupported(const std::string& method);
inline constexpr const char* kEntryLeadsOut = "名称指向安装目录之外";
inline constexpr const char* kEntryRecordDamaged = "记录已损坏";
inline constexpr const char* kEntryDataDamaged = "数据已损坏";
inline constexpr const char* kEntryLinkLeadsOut = "是指向安装目录之外的链接";
inline constexpr const char* kEntryBelowLink = "位于链接之下";

// Why a name of a package or a manifest cannot be installed on Windows (told after the name).
inline constexpr const char* kNameNotForWindows = "名称在 Windows 上不能用作文件名";
std::string DiffersOnlyInCaseFrom(const std::string& other);
std::string SameFileOnWindowsAs(const std::string& other);

// The installation.
inline constexpr const char* kInstallBegin = "开始安装更新，请稍候...";
// A file that cannot be put in place, and a package's entry that cannot be unpacked, with why.
std::string CannotInstall(const std::string& file, const std::string& reason);
std::string CannotUnpack(const std::string& entry, const std::string& reason);
std::string JournalNotWritten(const std::string& reason);
// A sentence about one of the package's files: "更新包中的 " before it.
std::string InThePackage(const std::string& sentence);
inline constexpr const char* kPackageDamaged = "更新包已损坏，无法解压，已停止更新。";
// Why, for those sentences.
std::string FailureReason(int error);  // of a failed file operation (an errno)
inline constexpr const char* kNotAProgramForThisMachine = "不是本机可以运行的程序";
inline constexpr const char* kCannotCreateFile = "无法创建文件";
inline constexpr const char* kWriteFailed = "写入失败，磁盘可能已满";
inline constexpr const char* kNameEndsInSeparator = "名称以分隔符结尾，不是文件名";

// A signature refused: the update is not installed.
inline constexpr const char* kBadPublicKey = "配置的公钥无效，已拒绝本次更新。";
std::string SignatureMissing(const std::string& file);
std::string SignatureInvalid(const std::string& file);
std::string SignedByUntrustedKey(const std::string& file);
std::string SignatureOfAnotherFile(const std::string& file);
std::string OlderThanAccepted(const std::string& file);
std::string SignatureExpired(const std::string& file);

}  // namespace sentence
