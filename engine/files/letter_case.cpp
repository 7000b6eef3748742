#include "engine/files/letter_case.h"

namespace {

// The lower-case letter of c, or c.
char32_t LowerOf(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  // Latin Extended-A: pairs of upper then lower case, in three runs, with
  // the dotted and dotless i each only themselves.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return c | 1;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 1 ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  // Greek; the final sigma is a sigma.
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c == 0x3C2) return 0x3C3;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  // Cyrillic.
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF)) {
    return c | 1;
  }
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return c % 2 == 1 ? c + 1 : c;
  return c;
}

}  // namespace

// Every letter folded lies below U+0800, in UTF-8's one- and two-byte forms;
// every other byte is copied as it is.
std::string FoldCase(const char* name) {
  std::string folded;
  const auto* text = reinterpret_cast<const unsigned char*>(name);
  while (*text != 0) {
    const unsigned char b = *text;
    if (b < 0x80) {
      folded.push_back(static_cast<char>(LowerOf(b)));
      ++text;
    } else if (b >= 0xC2 && b <= 0xDF && (text[1] & 0xC0) == 0x80) {
      const char32_t c = LowerOf(((b & 0x1F) << 6) | (text[1] & 0x3F));
      folded.push_back(static_cast<char>(0xC0 | (c >> 6)));
      folded.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      text += 2;
    } else {
      folded.push_back(static_cast<char>(b));
      ++text;
    }
  }
  return folded;
}

std::string FlipAsciiCase(const char* name) {
  std::string flipped(name);
  bool any = false;
  for (char& c : flipped) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      c = static_cast<char>(c ^ 0x20);
      any = true;
    }
  }
  return any ? flipped : std::string();
}
