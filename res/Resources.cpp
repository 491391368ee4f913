#include "res/Resources.h"

#include "window/Gdi.h"

bool LoadBitmap(CBitmap& bitmap, int id)
{
    std::span<const unsigned char> data = FindResourceData(id);
    const auto kind = id == IDR_MAINFRAME ? CBitmap::DibKind::Icon : CBitmap::DibKind::Bitmap;
    return !data.empty() && (bitmap.LoadPng(data.data(), data.size()) || bitmap.LoadDib(data.data(), data.size(), kind));
}
