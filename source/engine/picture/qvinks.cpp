// qvinks: CMYK bitmaps marked and turned into light.
#include "engine/picture/qvinks.h"

#include <cmath>

void qvMarkAsInks(FIBITMAP* bitmap)
{
    FreeImage_GetICCProfile(bitmap)->flags |= FIICC_COLOR_IS_CMYK;
}

bool qvHoldsInks(FIBITMAP* bitmap)
{
    return FreeImage_GetColorType(bitmap) == FIC_CMYK;
}

QvBitmap qvLightFromInks(FIBITMAP* source)
{
    const unsigned bpp = FreeImage_GetBPP(source);
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(source);
    const bool eightBit = type == FIT_BITMAP && bpp == 32;
    if (!qvHoldsInks(source) || (!eightBit && type != FIT_RGBA16)) return nullptr;
    const unsigned width = FreeImage_GetWidth(source);
    const unsigned height = FreeImage_GetHeight(source);
    QvBitmap rgb(FreeImage_Allocate(int(width), int(height), 24));
    if (!rgb) return nullptr;
    const double full = eightBit ? 255 : 65535;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = FreeImage_GetScanLine(source, int(y));
        BYTE* out = FreeImage_GetScanLine(rgb.get(), int(y));
        for (unsigned x = 0; x < width; ++x) {
            // The share of light each ink in file order, cyan first, leaves.
            double left[4];
            for (int i = 0; i < 4; ++i)
                left[i] =
                    1 - (eightBit ? in[x * 4 + i] : reinterpret_cast<const WORD*>(in)[x * 4 + i]) / full;
            const auto light = [&](double ink) { return BYTE(std::lround(ink * left[3] * 255)); };
            out[x * 3 + FI_RGBA_RED] = light(left[0]);
            out[x * 3 + FI_RGBA_GREEN] = light(left[1]);
            out[x * 3 + FI_RGBA_BLUE] = light(left[2]);
        }
    }
    return rgb;
}
