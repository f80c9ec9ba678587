#include "readme_shot.h"

#include <windows.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <cstdlib>
#include <filesystem>

namespace readmeshot {

namespace {

using Microsoft::WRL::ComPtr;

// The PNG at `path` as RGBA rows; empty when there is none.
std::vector<std::uint8_t> read(IWICImagingFactory* factory, const std::wstring& path, UINT* width, UINT* height) {
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(width, height))) {
    return {};
  }
  std::vector<std::uint8_t> rgba(std::size_t(*width) * *height * 4);
  if (FAILED(converter->CopyPixels(nullptr, *width * 4, UINT(rgba.size()), rgba.data()))) return {};
  return rgba;
}

bool write(IWICImagingFactory* factory, const std::wstring& path, int width, int height,
           const std::vector<std::uint8_t>& rgba) {
  std::vector<std::uint8_t> bgr(std::size_t(width) * height * 3);
  for (std::size_t i = 0, n = std::size_t(width) * height; i < n; i++) {
    bgr[3 * i] = rgba[4 * i + 2];
    bgr[3 * i + 1] = rgba[4 * i + 1];
    bgr[3 * i + 2] = rgba[4 * i];
  }
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  return SUCCEEDED(factory->CreateStream(&stream)) &&
         SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
         SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
         SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
         SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
         SUCCEEDED(frame->SetSize(UINT(width), UINT(height))) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
         format == GUID_WICPixelFormat24bppBGR &&
         SUCCEEDED(frame->WritePixels(UINT(height), UINT(width) * 3, UINT(bgr.size()), bgr.data())) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

bool sameOutside(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int width, int height,
                 const std::vector<Area>& changing) {
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      bool skipped = false;
      for (const Area& r : changing) skipped = skipped || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
      if (skipped) continue;
      std::size_t i = (std::size_t(y) * width + x) * 4;
      for (int c = 0; c < 3; c++) {
        if (std::abs(a[i + c] - b[i + c]) > 8) return false;
      }
    }
  }
  return true;
}

}  // namespace

bool keep(const std::wstring& path, int width, int height, const std::vector<std::uint8_t>& rgba,
          const std::vector<Area>& changing, bool* rewritten) {
  *rewritten = false;
  if (width <= 0 || height <= 0 || rgba.size() < std::size_t(width) * height * 4) return false;
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool ok = false;
  {
    ComPtr<IWICImagingFactory> factory;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)))) {
      UINT oldWidth = 0, oldHeight = 0;
      std::vector<std::uint8_t> old = read(factory.Get(), path, &oldWidth, &oldHeight);
      if (!old.empty() && int(oldWidth) == width && int(oldHeight) == height &&
          sameOutside(old, rgba, width, height, changing)) {
        ok = true;
      } else {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        ok = write(factory.Get(), path, width, height, rgba);
        *rewritten = ok;
      }
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return ok;
}

}  // namespace readmeshot
