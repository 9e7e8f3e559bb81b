#include "ui/picture.h"

#include <objbase.h>
#include <wincodec.h>

#include <memory>

#include "platform/strings.h"

namespace orv {
namespace {

template <typename T>
struct ComRelease {
  void operator()(T* p) const {
    if (p) p->Release();
  }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComRelease<T>>;

constexpr UINT kMaxPictureSide = 8192;

class ComScope {
 public:
  ComScope() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (started_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool started_;
};

ComPtr<IWICImagingFactory> imagingFactory() {
  IWICImagingFactory* raw = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&raw))))
    return nullptr;
  return ComPtr<IWICImagingFactory>(raw);
}

HBITMAP toBitmap(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, SIZE& size) {
  IWICBitmapFrameDecode* rawFrame = nullptr;
  if (FAILED(decoder->GetFrame(0, &rawFrame))) return nullptr;
  ComPtr<IWICBitmapFrameDecode> frame(rawFrame);
  IWICFormatConverter* rawConverter = nullptr;
  if (FAILED(factory->CreateFormatConverter(&rawConverter))) return nullptr;
  ComPtr<IWICFormatConverter> converter(rawConverter);
  if (FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)))
    return nullptr;
  UINT w = 0, h = 0;
  converter->GetSize(&w, &h);
  if (w == 0 || h == 0 || w > kMaxPictureSide || h > kMaxPictureSide) return nullptr;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = static_cast<LONG>(w);
  bi.bmiHeader.biHeight = -static_cast<LONG>(h);
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib) return nullptr;
  if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, static_cast<BYTE*>(bits)))) {
    DeleteObject(dib);
    return nullptr;
  }
  size = {static_cast<LONG>(w), static_cast<LONG>(h)};
  return dib;
}

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
  const std::string_view bytes = pictureBytes(data);
  if (bytes.empty() || bytes.size() > (64u << 20)) return nullptr;
  ComScope com;
  ComPtr<IWICImagingFactory> factory = imagingFactory();
  if (!factory) return nullptr;
  IWICStream* rawStream = nullptr;
  if (FAILED(factory->CreateStream(&rawStream))) return nullptr;
  ComPtr<IWICStream> stream(rawStream);
  std::string copy(bytes);  // the stream reads from memory that must outlive the decoder
  if (FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(copy.data()), static_cast<DWORD>(copy.size()))))
    return nullptr;
  IWICBitmapDecoder* rawDecoder = nullptr;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &rawDecoder)))
    return nullptr;
  ComPtr<IWICBitmapDecoder> decoder(rawDecoder);
  return toBitmap(factory.get(), decoder.get(), size);
}

HBITMAP pictureFromFile(const std::string& path, SIZE& size) {
  ComScope com;
  ComPtr<IWICImagingFactory> factory = imagingFactory();
  if (!factory) return nullptr;
  IWICBitmapDecoder* rawDecoder = nullptr;
  if (FAILED(factory->CreateDecoderFromFilename(widen(path).c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnLoad, &rawDecoder)))
    return nullptr;
  ComPtr<IWICBitmapDecoder> decoder(rawDecoder);
  return toBitmap(factory.get(), decoder.get(), size);
}

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
