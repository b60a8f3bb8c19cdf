// qvfreeimagebitmap: a FreeImage bitmap with one owner.
#pragma once

#include <FreeImage.h>

#include <memory>

struct QvBitmapDeleter {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using QvBitmap = std::unique_ptr<FIBITMAP, QvBitmapDeleter>;
