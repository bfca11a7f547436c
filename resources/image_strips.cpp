#include "resources/image_strips.h"

#include "common/program_state.h"
#include "resources/resource_ids.h"

namespace {

constexpr COLORREF kMaskColour = RGB(0, 255, 255);

}  // namespace

UINT sizedBitmapId(UINT bitmapId, int size) {
    UINT step = 0;
    for (int drawn : kPictureSizes) {
        if (drawn == size) return bitmapId + step * IDB_SIZE_STEP;
        ++step;
    }
    return bitmapId;
}

void addImagesFromBitmap(HIMAGELIST images, UINT bitmapId) {
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(appInstance, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (bitmap == nullptr) return;
    ImageList_AddMasked(images, bitmap, kMaskColour);
    DeleteObject(bitmap);
}

HIMAGELIST createImageListFromBitmap(UINT bitmapId, int imageCount, int size) {
    HIMAGELIST images = ImageList_Create(size, size, ILC_MASK | ILC_COLOR32, imageCount, 0);
    if (images != nullptr) addImagesFromBitmap(images, sizedBitmapId(bitmapId, size));
    return images;
}
