#include "install/InstallMessages.h"

#include <cerrno>

std::string CannotInstall(const std::string& name, const std::string& reason)
{
    return name + " 无法安装（" + reason + "），已停止更新。";
}

std::string CannotUnpack(const std::string& entry, const std::string& reason)
{
    return "更新包中的 " + entry + " 无法解压（" + reason + "），已停止更新。";
}

std::string FailureReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return "没有写入权限";
    case EROFS: return "磁盘是只读的";
    case ENOSPC:
    case EDQUOT: return "磁盘空间不足";
    case EISDIR:
    case ENOTEMPTY:
    case EEXIST: return "那里已有同名的文件夹";
    case ENOTDIR: return "路径上有同名的文件";
    case ENAMETOOLONG: return "路径太长";
    case ENOENT: return "它所在的文件夹已不存在";
    case EXDEV: return "不在安装目录所在的磁盘上";
    case EIO: return "磁盘读写出错";
    default: return "系统错误 " + std::to_string(error);
    }
}

std::string InstallFailureSentence(const InstallFailure& failure, const std::string& name)
{
    if (failure.step == InstallFailure::kJournal)
        return "无法记录安装步骤（" + FailureReason(failure.error) + "），已停止更新。";
    return CannotInstall(name, FailureReason(failure.error));
}
