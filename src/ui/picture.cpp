#include "ui/picture.h"

#include "platform/pictures.h"
#include "platform/strings.h"

namespace orv {
namespace {

constexpr UINT kMaxPictureSide = 8192;

// Where the file bytes start: after the class name and, for the classes that write one, a size field.
std::string_view pictureBytes(std::string_view data) {
  if (data.empty()) return {};
  const size_t nameLength = static_cast<unsigned char>(data[0]);
  if (data.size() < 1 + nameLength) return {};
  std::string_view rest = data.substr(1 + nameLength);
  auto looksLikePicture = [](std::string_view b) {
    return b.rfind("BM", 0) == 0 || b.rfind("\x89PNG", 0) == 0 || b.rfind("\xFF\xD8", 0) == 0 ||
           b.rfind("GIF8", 0) == 0;
  };
  if (looksLikePicture(rest)) return rest;
  if (rest.size() > 4 && looksLikePicture(rest.substr(4))) return rest.substr(4);
  return {};
}

}  // namespace

HBITMAP pictureFromDesignData(std::string_view data, SIZE& size) {
  return decodePictureBytes(pictureBytes(data), kMaxPictureSide, size);
}

HBITMAP pictureFromFile(const std::string& path, SIZE& size) { return decodePictureFile(widen(path), kMaxPictureSide, size); }

void drawPicture(HDC dc, HBITMAP picture, SIZE size, const RECT& into) {
  HDC memory = CreateCompatibleDC(dc);
  if (!memory) return;
  HGDIOBJ old = SelectObject(memory, picture);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  GdiAlphaBlend(dc, into.left, into.top, into.right - into.left, into.bottom - into.top, memory, 0, 0, size.cx, size.cy,
                blend);
  SelectObject(memory, old);
  DeleteDC(memory);
}

}  // namespace orv
