// A changed file made from the installed copy and a patch, which is downloaded (verified, tried
// again, continued) like any file. Whatever goes wrong on the way, the file is then fetched
// whole, once.

#include "delta/ApplyPatch.h"
#include "download/FetchError.h"
#include "download/FileFetch.h"
#include "download/TempNames.h"
#include "download/Verification.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace {

// The patch as a download of its own: shown under the file's name, asked for at its own, stored
// beside the file's temporary name.
tagDownloadTask PatchTask(const tagDownloadTask& task, const std::string& strFileTemp)
{
    const tagPatchSource& source = *task.expected->patch;
    tagDownloadTask patch;
    patch.nID = task.nID;
    patch.szName = task.szName;
    patch.szFile = task.szFile;
    patch.szDir = task.szDir;
    patch.szUrlPath = source.strName;
    patch.bPatch = true;
    patch.szTempName = PathFindFileName(strFileTemp) + ".patch";
    patch.expected = tagExpectedFile{source.nSize, source.strMd5, source.strSha256, std::nullopt};
    return patch;
}

}  // namespace

bool CFileFetch::FromPatch()
{
    tagDownloadTask patch = PatchTask(m_task, m_strPath);
    CFileFetch patchFetch(patch, m_lane, m_run);
    std::optional<std::string> failure;
    try {
        if (!patchFetch.Whole())
            return false;  // stopped; the patch's bytes stay for the next run
        failure = ApplyPatch(m_run.Setup().strInstallDir + m_task.szName, patchFetch.m_strPath, m_strPath,
                             m_task.expected->nSize);
        DeleteFile(patchFetch.m_strPath);
        if (!failure) {
            CDownloadDigests digests(m_task);
            CFile made(m_strPath, CFile::modeRead);
            digests.UpdateFromFile(made, m_task.expected->nSize);
            made.Close();
            Verify(digests, m_task.expected->nSize);
            LogNote(m_task.szName + ": made from the installed copy with a patch of " +
                    std::to_string(patch.expected->nSize) + " bytes, size and digests verified");
            return true;
        }
    } catch (const CInternetException& e) {
        if (e.IsCancel() && m_run.Stopped())
            return false;
        failure = e.GetErrorMessage();
    } catch (const CFileException& e) {
        failure = e.GetErrorMessage();
    } catch (const CFetchError& e) {
        failure = e.what();
    }
    m_lane.file.Abort();
    DeleteFile(patchFetch.m_strPath);
    LogLine(m_task.szName + ": the patch could not be used (" + *failure + "); the whole file is fetched instead");
    return false;
}
