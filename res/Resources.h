#pragma once
// The program's own resources, embedded in the executable: the dialog template, the bitmaps
// and the icon, by the identifiers the window and the controls load them with.

#include <span>

class CBitmap;

inline constexpr int IDR_MAINFRAME = 128;          // icon, 48 x 48
inline constexpr int IDD_AUTOUPDATE_DIALOG = 102;  // the update window's template
inline constexpr int IDB_PROGRESS_FILL = 129;      // 40 x 12
inline constexpr int IDB_PROGRESS_TRACK = 130;     // 100 x 14
inline constexpr int IDB_BACKGROUND = 131;         // 368 x 91, the download panel
inline constexpr int IDB_CANCEL_BUTTON = 132;      // 276 x 21, four frames
inline constexpr int IDB_SPLASH = 133;             // 368 x 91

inline constexpr int IDC_PROGRESS_FILE = 1000;
inline constexpr int IDC_STATIC_STATUS = 1001;
inline constexpr int IDC_PROGRESS_TOTAL = 1003;
inline constexpr int IDC_STATIC_DETAIL = 1004;

// The bytes of a bitmap or icon: PNG on Linux, embedded by the build; on Windows a DIB from the
// executable's resources, which res/KesuUpdate.rc puts there. Empty for an unknown id.
std::span<const unsigned char> FindResourceData(int id);
// Loads a bitmap resource; false for an unknown id.
bool LoadBitmap(CBitmap& bitmap, int id);
