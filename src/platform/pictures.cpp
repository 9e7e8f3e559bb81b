#include "platform/pictures.h"

#include <wincodec.h>

#include "platform/com.h"

namespace orv {
namespace {

ComPtr<IWICImagingFactory> imagingFactory() {
  IWICImagingFactory* raw = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&raw))))
    return nullptr;
  return ComPtr<IWICImagingFactory>(raw);
}

HBITMAP toBitmap(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, UINT maxSide, SIZE& size) {
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
  if (w == 0 || h == 0 || w > maxSide || h > maxSide) return nullptr;
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

}  // namespace

HBITMAP decodePictureFile(const std::wstring& path, UINT maxSide, SIZE& size) {
  ComScope com;
  ComPtr<IWICImagingFactory> factory = imagingFactory();
  if (!factory) return nullptr;
  IWICBitmapDecoder* rawDecoder = nullptr;
  if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad,
                                                &rawDecoder)))
    return nullptr;
  ComPtr<IWICBitmapDecoder> decoder(rawDecoder);
  return toBitmap(factory.get(), decoder.get(), maxSide, size);
}

HBITMAP decodePictureBytes(std::string_view bytes, UINT maxSide, SIZE& size) {
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
  return toBitmap(factory.get(), decoder.get(), maxSide, size);
}

}  // namespace orv
