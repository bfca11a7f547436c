// The executable's bitmap strips as image lists.
#ifndef SPINDLEBAY_IMAGE_STRIPS_H
#define SPINDLEBAY_IMAGE_STRIPS_H

#include <windows.h>
#include <commctrl.h>

// Adds a bitmap strip of the executable to `images`, cyan being transparent.
void addImagesFromBitmap(HIMAGELIST images, UINT bitmapId);

// A 16x16 image list (ILC_COLOR32 | ILC_MASK, no growth) filled from a strip.
HIMAGELIST createImageListFromBitmap(UINT bitmapId, int imageCount);

#endif
