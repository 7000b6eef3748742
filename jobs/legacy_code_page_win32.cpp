#include "jobs/legacy_code_page.h"

#include <windows.h>

namespace {

// The system locale's ANSI code page. GetACP() no longer tells it: under the
// manifest it answers UTF-8 (65001). 0 when the locale has none.
UINT SystemLegacyCodePage() {
  DWORD code_page = 0;
  const int n =
      GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&code_page), sizeof code_page / sizeof(WCHAR));
  return n == 0 ? 0 : code_page;
}

}  // namespace

bool LegacyCodePageToUtf8(std::string_view text, std::string* utf8) {
  const UINT code_page = SystemLegacyCodePage();
  if (code_page == CP_ACP || code_page == CP_UTF8 || !IsValidCodePage(code_page)) return false;
  // A whole file is at most kMaxWholeFileSize bytes: its lengths fit an int.
  const int size = static_cast<int>(text.size());
  // Bytes the code page leaves undefined become the characters the system
  // maps them to; the original file is kept beside the project.
  const int wide_length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  if (wide_length <= 0) return false;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), wide_length);
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0,
                                         /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
  if (length <= 0) return false;
  std::string converted(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, converted.data(), length,
                      /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
  *utf8 = std::move(converted);
  return true;
}
