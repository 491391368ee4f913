// The Windows program's resources are those its resource script put into the executable: a
// bitmap's bytes are its DIB, an icon's the DIB of the first image of its group.

#include <windows.h>
#undef LoadBitmap  // Resources.h declares the program's own

#include "res/Resources.h"

namespace {

std::span<const unsigned char> ResourceBytes(LPCWSTR name, LPCWSTR type)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return {};
    return {static_cast<const unsigned char*>(bytes), SizeofResource(module, found)};
}

}  // namespace

std::span<const unsigned char> FindResourceData(int id)
{
    if (id != IDR_MAINFRAME)
        return ResourceBytes(MAKEINTRESOURCEW(id), RT_BITMAP);
    // The group's directory: a 6-byte header, then 14-byte entries ending in the image's id.
    std::span<const unsigned char> group = ResourceBytes(MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    if (group.size() < 6 + 14 || (group[4] | group[5] << 8) == 0)
        return {};
    const int image = group[6 + 12] | group[6 + 13] << 8;
    return ResourceBytes(MAKEINTRESOURCEW(image), RT_ICON);
}
