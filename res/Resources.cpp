#include "res/Resources.h"

#include "window/Gdi.h"

bool LoadBitmap(CBitmap& bitmap, int id)
{
    std::span<const unsigned char> data = FindResourceData(id);
    return !data.empty() && bitmap.LoadPng(data.data(), data.size());
}
