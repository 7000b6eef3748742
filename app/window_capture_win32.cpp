// For scripts/screenshot.sh: writes the picture of a top-level window, found
// by its caption, as a 24-bit BMP. The pixels are read from the screen, so
// they are what the display shows, frame and caption included.
// Usage: window_capture CAPTION FILE.bmp
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_capture CAPTION FILE.bmp\n");
    return 2;
  }
  HWND window = FindWindowA(/*lpClassName=*/nullptr, argv[1]);
  RECT frame;
  if (window == nullptr || !GetWindowRect(window, &frame)) {
    std::fprintf(stderr, "window_capture: no window \"%s\"\n", argv[1]);
    return 1;
  }
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  HDC screen = GetDC(/*hWnd=*/nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file holds it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return 1;
  HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  GdiFlush();
  const DWORD row = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  info.bmiHeader.biSizeImage = row * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + info.bmiHeader.biSizeImage;
  FILE* out = copied ? std::fopen(argv[2], "wb") : nullptr;
  const bool written = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
                       std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                       std::fwrite(bits, info.bmiHeader.biSizeImage, 1, out) == 1;
  if (out != nullptr && std::fclose(out) != 0) return 1;
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(/*hWnd=*/nullptr, screen);
  return written ? 0 : 1;
}
