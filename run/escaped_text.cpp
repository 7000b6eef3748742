#include "run/escaped_text.h"

void PutEscaped(const char* text, std::FILE* stream) {
  const char* plain = text;
  for (const char* at = text;; ++at) {
    const unsigned char c = static_cast<unsigned char>(*at);
    if (c >= 0x20 && c != 0x7F) continue;
    std::fwrite(plain, 1, static_cast<size_t>(at - plain), stream);
    if (c == '\0') return;
    if (c == '\n') {
      std::fputs("\\n", stream);
    } else if (c == '\r') {
      std::fputs("\\r", stream);
    } else if (c == '\t') {
      std::fputs("\\t", stream);
    } else {
      std::fprintf(stream, "\\x%02X", c);
    }
    plain = at + 1;
  }
}
