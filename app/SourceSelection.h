#pragma once
// Where a run's files come from. In package mode the server is asked for the package (the
// manifest name with ".zip" for ".xml"); when it answers 404 or cannot be asked, the run falls
// back to the manifest, once. In manifest mode the manifest queues the changed files.

#include <string>

struct ManifestTarget;

// Queues this run's downloads on the target's manager: true when anything was queued. Sets
// g_bManifestMode to 1 on a fallback and the target's total size from the package's length.
bool QueueUpdate(ManifestTarget& target, const std::string& strBaseURL);
