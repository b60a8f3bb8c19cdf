// qvinks: bitmaps of CMYK inks, as FreeImage hands back a TIFF read with
// TIFF_CMYK or a PSD read with PSD_CMYK (once marked): how they are told
// apart, and the light they leave.
#pragma once

#include <FreeImage.h>

#include "engine/picture/qvfreeimagebitmap.h"

// Marks a bitmap whose four channels are inks, cyan first, as CMYK.
void qvMarkAsInks(FIBITMAP* bitmap);

// Whether a bitmap holds inks rather than colours.
bool qvHoldsInks(FIBITMAP* bitmap);

// A CMYK bitmap of 8 or 16 bits a sample as 24-bit RGB; null when it is of
// another kind or FreeImage has no memory for it. Each ink takes its share
// of light away: red = (1 - cyan)(1 - black), and so on, rounded to 8 bits
// from the inks as stored.
QvBitmap qvLightFromInks(FIBITMAP* source);
