#include "jobs/utf8.h"

#include <cstdarg>
#include <cstdio>

namespace {

// The length of the sequence that lead begins, or 0 when it cannot begin one.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The length of the longest start of text[0, length) that does not end in a
// character cut short.
size_t WholeCharactersLength(const char* text, size_t length) {
  size_t start = length;
  // A character has at most three continuation bytes.
  while (start > 0 && length - start < 3 && IsContinuationByte(text[start - 1]))
    --start;
  if (start == 0) return length;
  const size_t lead = start - 1;
  const size_t needed = SequenceLength(static_cast<unsigned char>(text[lead]));
  // Bytes that are no UTF-8 (a legacy name) are left as they are.
  if (needed <= 1 || length - lead >= needed) return length;
  return lead;
}

}  // namespace

bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = SequenceLength(lead);
    if (length == 0 || text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      if (!IsContinuationByte(text[i + k])) return false;
    }
    if (length > 2) {
      // The second byte's range rules out overlong forms, surrogates and
      // code points past U+10FFFF.
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
          (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

void FormatWhole(char* line, size_t size, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int n = std::vsnprintf(line, size, format, arguments);
  va_end(arguments);
  if (n >= static_cast<int>(size)) line[WholeCharactersLength(line, size - 1)] = '\0';
}
