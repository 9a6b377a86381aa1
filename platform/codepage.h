// The code page of the program's texts: 936 (GBK), the system code page of a Chinese Windows.
// Every narrow literal is GBK (-fexec-charset=GBK) and the ANSI functions read texts in the system
// code page, so the program needs that system code page to be 936.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The one rule for double-byte characters everywhere in the program: in code page 936 a byte
// 0x81-0xFE leads a two-byte character, whose second byte (0x40-0xFE, among them '\', '|' and
// '^') is never a character of its own. 0x80 and 0xFF stand alone.
constexpr bool IsGbkLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
constexpr bool IsGbkLeadByte(char c) { return IsGbkLeadByte(static_cast<unsigned char>(c)); }

// Between the system's ANSI code page and UTF-16, as MultiByteToWideChar and
// WideCharToMultiByte convert with CP_ACP: a character the other side lacks becomes '?'.
std::u16string Utf16FromAnsi(std::string_view text);
std::string AnsiFromUtf16(std::u16string_view units);

// UTF-8 to UTF-16, as MultiByteToWideChar converts with CP_UTF8 and MB_ERR_INVALID_CHARS: false,
// with units left empty, where the bytes are not valid UTF-8.
bool Utf16FromUtf8(std::string_view text, std::u16string& units);
// UTF-16 to UTF-8, as WideCharToMultiByte converts with CP_UTF8.
std::string Utf8FromUtf16(std::u16string_view units);
// The OEM code page (the one cmd.exe writes its own messages in) to UTF-16, as CP_OEMCP converts.
std::u16string Utf16FromOem(std::string_view text);

}  // namespace platform
