// Pictures of image controls: BMP, PNG (and whatever else WIC decodes) into 32-bit premultiplied
// bitmaps that the page draws with alpha.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace orv {

// A design's Picture.Data: the picture class name (length byte first), optionally a 32-bit size, then
// the file bytes. Null when nothing decodable is inside.
HBITMAP pictureFromDesignData(std::string_view data, SIZE& size);
HBITMAP pictureFromFile(const std::string& path, SIZE& size);
// Draws a premultiplied bitmap into the rectangle.
void drawPicture(HDC dc, HBITMAP picture, SIZE size, const RECT& into);

}  // namespace orv
