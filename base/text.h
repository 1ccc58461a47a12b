// Byte-string helpers that know double-byte characters: in a double-byte
// code page (932 and others) the second byte of a character may equal '\',
// so a search for a separator steps over each character as a whole.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// Tells whether c is the first byte of a double-byte character.
typedef bool (*LeadByteTest)(unsigned char c);

/// The last character of s that is one of chars, never the second byte of
/// a double-byte character (is_lead_byte tells the first bytes); nullptr
/// when there is none.
///   text_last_of("D:\\tv\\a.ts", "\\/", never) -> "\\a.ts"
///   text_last_of("x\x95\\", "\\", cp932)      -> nullptr ('表' is 95 5C)
const char* text_last_of(const char* s, const char* chars, LeadByteTest is_lead_byte);

/// The start of the last character of s (s itself when s is empty).
const char* text_last_char(const char* s, LeadByteTest is_lead_byte);

/// True when text begins with word, compared without regard to ASCII case;
/// a shorter text never matches. With whole, text must also end there.
///   text_starts_any_case("Stopnow", "stop", false) -> true
///   text_starts_any_case("/im", "/IM", true)       -> true
bool text_starts_any_case(const char* text, const char* word, bool whole);

/// Writes the len bytes of text into out (capacity out_cap, at least
/// 4 * len + 3) in double quotation marks, '"' and '\' escaped with '\',
/// control bytes as \xNN, and gives its length:  a"b\x01  ->  "a\"b\x01"
size_t text_quote(const char* text, size_t len, char* out, size_t out_cap);

/// The longest file name and the longest full path (without a leading
/// "\\?\") that Windows takes, in characters.
const size_t WINDOWS_NAME_MAX = 255;
const size_t WINDOWS_PATH_MAX = 259;

/// Why Windows can make no file of the name name, or nullptr when it can:
/// it holds one of ? * | < > (the '?' of a leading "\\?\" aside), a ':'
/// that is no drive letter's (on NTFS one names a stream of another file),
/// names a device (its last part, up to its first '.' and without blanks
/// at the end of that, is CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9,
/// in any letter case; the digit may also be one of `superscripts`, the
/// code page's bytes for the superscript digits 1, 2, 3), has a part longer
/// than WINDOWS_NAME_MAX characters, ends with a '.' or a blank (which
/// Windows takes away; a leading "\\?\" keeps them), or is, as a full path of full_len
/// characters, longer than WINDOWS_PATH_MAX without a leading "\\?\".
/// Characters are counted as is_lead_byte tells them.
///   a*.ts, a|b.ts, News:Special.ts, nul.ts, Com1 .x.ts  ->  refused
///   D:\tv\a.ts, \\?\D:\tv\a.ts, CONSOLE.ts, COM0.ts   ->  nullptr
const char* text_windows_name_problem(const char* name, size_t full_len, LeadByteTest is_lead_byte,
                                      const char* superscripts);

/// Writes the UTF-8 bytes of the character code_point into out and gives
/// their count (1 to 4); a value that is no character (a half of a UTF-16
/// pair, or past U+10FFFF) gives those of U+FFFD.
size_t text_utf8(uint32_t code_point, char (&out)[4]);

/// Writes the name of an object that stands for s into out, at most max_len
/// characters (and within out_cap): "quellatorbin:<s>", or where that is too
/// long "quellatorbin#<16 hex digits of a 64-bit FNV-1a hash of s>". False when neither fits.
bool text_object_name(const char* s, size_t max_len, char* out, size_t out_cap);
