// CDownloadMgr::StoreFromPatch: a changed file made from the installed copy and a patch, which
// is downloaded (verified, tried again, continued) like any file. Whatever goes wrong on the way,
// the file is then fetched whole, once.

#include "delta/ApplyPatch.h"
#include "download/DownloadLane.h"
#include "download/TempNames.h"
#include "download/Verification.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

using namespace download_lane;

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
    patch.szTempName = PathFindFileName(strFileTemp) + ".patch";
    patch.expected = tagExpectedFile{source.nSize, source.strMd5, source.strSha256, std::nullopt};
    return patch;
}

}  // namespace

bool CDownloadMgr::StoreFromPatch(tagDownloadTask& task, Lane& lane)
{
    const std::string fileTemp = TempFilePath(m_setup.strTempDir, task, true);
    tagDownloadTask patch = PatchTask(task, fileTemp);
    const std::string patchTemp = TempFilePath(m_setup.strTempDir, patch, true);
    std::string failure;
    try {
        if (!FetchWhole(patch, lane))
            return false;  // stopped; the patch's bytes stay for the next run
        failure = ApplyPatch(m_setup.strInstallDir + task.szName, patchTemp, fileTemp, task.expected->nSize);
        DeleteFile(patchTemp);
        if (failure.empty()) {
            CDownloadDigests digests(task);
            CFile made(fileTemp, CFile::modeRead);
            digests.UpdateFromFile(made, task.expected->nSize);
            made.Close();
            VerifyTask(task, digests, task.expected->nSize, fileTemp);
            LogNote(task.szName + ": made from the installed copy with a patch of " + std::to_string(patch.expected->nSize) +
                    " bytes, size and digests verified");
            return true;
        }
    } catch (const CInternetException& e) {
        if (e.IsCancel() && m_bStop)
            return false;
        failure = e.GetErrorMessage();
    } catch (const CFileException& e) {
        failure = e.GetErrorMessage();
    } catch (const NotTheFile&) {
        failure = "the patch, or the file it made, is not the published one";
    } catch (const Refused& refused) {
        failure = refused.strSentence;
    }
    lane.file.Abort();
    DeleteFile(patchTemp);
    LogLine(task.szName + ": the patch could not be used (" + failure + "); the whole file is fetched instead");
    return false;
}
