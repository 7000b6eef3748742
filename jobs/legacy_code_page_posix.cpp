#include "jobs/legacy_code_page.h"

// File names are bytes here: a project's paths name the files they named
// before whatever their encoding, so its text is read as it stands.
bool LegacyCodePageToUtf8(std::string_view, std::string*) {
  return false;
}
