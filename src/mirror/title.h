// TITLE: remote window titles, four hex digits per UTF-16 code unit.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Each group of four characters is one code unit; a length that is not a multiple of 4 gives the
// empty string. No character is rejected: every one gives a digit value by the same rule.
std::basic_string<WCHAR> DecodeHexText(std::basic_string_view<WCHAR> text);

// Decodes the title and makes it the local window's text. 1 when applied, 0 when ignored (empty
// field, unknown id).
// Titles are cut to 4096 UTF-16 units, never between the two units of a surrogate pair.
int OnTitle(UINT32 messageNumber, UINT32 remoteWnd, std::string_view hexTitle, INT32 field4);
