// The executable's bitmap strips as image lists.
#ifndef SPINDLEBAY_IMAGE_STRIPS_H
#define SPINDLEBAY_IMAGE_STRIPS_H

#include <windows.h>
#include <commctrl.h>

// The sizes the strips are drawn at, smallest first.
constexpr int kPictureSizes[] = {16, 20, 24, 32};

// Id of the strip `bitmapId` (its 16-pixel id) drawn for `size` pixels.
UINT sizedBitmapId(UINT bitmapId, int size);

// Adds a bitmap strip of the executable to `images`, cyan being transparent.
void addImagesFromBitmap(HIMAGELIST images, UINT bitmapId);

// A `size` x `size` image list (ILC_COLOR32 | ILC_MASK, no growth) filled
// from the strip drawn for that size.
HIMAGELIST createImageListFromBitmap(UINT bitmapId, int imageCount, int size = 16);

#endif
