#pragma once

#include "window/DialogTemplate.h"

// The template of the update window (IDD_AUTOUPDATE_DIALOG).
const DialogTemplate& UpdateDialogTemplate();
