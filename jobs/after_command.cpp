#include "jobs/after_command.h"

const char* AfterCommandFault(std::string_view command) {
  if (command.size() > kAfterCommandMaxLength) return "command too long";
  for (const char c : command) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return "control character in command";
  }
  return nullptr;
}
