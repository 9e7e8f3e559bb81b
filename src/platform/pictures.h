// Pictures through the system's imaging component: BMP, PNG, JPEG, GIF into 32-bit premultiplied
// top-down bitmaps, ready for alpha drawing. A picture larger than maxSide on either side is refused.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace orv {

HBITMAP decodePictureFile(const std::wstring& path, UINT maxSide, SIZE& size);
HBITMAP decodePictureBytes(std::string_view bytes, UINT maxSide, SIZE& size);

}  // namespace orv
