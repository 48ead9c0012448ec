// TITLE: remote window titles, four hex digits per UTF-16 code unit.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Each group of four characters is one code unit; a length that is not a multiple of 4 gives the
// empty string. No character is rejected: every one gives a digit value by the same rule.
std::basic_string<WCHAR> DecodeHexText(std::basic_string_view<WCHAR> text);
