#include "engine/files/windows_names.h"

#include <cstring>
#include <string>

bool WindowsRefusesName(const char* name) {
  const size_t length = std::strlen(name);
  if (length == 0) return false;
  if (name[length - 1] == '.' || name[length - 1] == ' ') return true;
  for (const char* c = name; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || std::strchr("<>:\"/\\|?*", *c) != nullptr) {
      return true;
    }
  }
  // A device's name stands before the first dot, trailing spaces aside.
  size_t stem = std::strcspn(name, ".");
  while (stem > 0 && name[stem - 1] == ' ')
    --stem;
  const auto is = [name, stem](const char* device, size_t size) {
    if (stem < size) return false;
    for (size_t i = 0; i < size; ++i) {
      const char c = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 32) : name[i];
      if (c != device[i]) return false;
    }
    return true;
  };
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == std::strlen(device) && is(device, stem)) return true;
  }
  // COM and LPT with a digit, or a superscript one, two or three.
  if (!is("COM", 3) && !is("LPT", 3)) return false;
  const std::string digit(name + 3, stem - 3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}
