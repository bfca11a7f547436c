#include "resources/image_strips.h"

#include "common/program_state.h"

namespace {

constexpr COLORREF kMaskColour = RGB(0, 255, 255);

}  // namespace

void addImagesFromBitmap(HIMAGELIST images, UINT bitmapId) {
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(appInstance, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (bitmap == nullptr) return;
    ImageList_AddMasked(images, bitmap, kMaskColour);
    DeleteObject(bitmap);
}

HIMAGELIST createImageListFromBitmap(UINT bitmapId, int imageCount) {
    HIMAGELIST images = ImageList_Create(16, 16, ILC_MASK | ILC_COLOR32, imageCount, 0);
    if (images != nullptr) addImagesFromBitmap(images, bitmapId);
    return images;
}
