/* Character-set and text conversion of single-byte texts.
 *
 * The system's own texts are Windows-1252 (ANSI). These functions convert them to and from the
 * PC's DOS code page (the IBM PC character set), reduce them to 7-bit text or to the capital
 * letters of the 5-bit teleprinter alphabet, write German umlauts out in letters, decode UTF-8
 * into ANSI bytes, and format byte counts for display.
 *
 * All conversions work in place on the caller's buffer. A length is a count of bytes to convert;
 * 0 or less converts nothing, and no byte beyond the length (or beyond the terminating zero, for
 * the functions that take none) is read or written, except where a function below says the
 * text grows. Null texts are left alone.
 *
 * CONVERT_Ansi2Ibm      ANSI to DOS: 0xA0-0xFF by the DOS table, 0x81-0x9F become '?', bytes up
 *                       to 0x80 stay.
 * CONVERT_Ibm2Ansi      DOS to ANSI: 0x80-0xFF become the lowest ANSI code whose DOS byte they
 *                       are (DOS 0x93 gives 0xD4); bytes not in the DOS table stay.
 * CONVERT_File_Ansi2Dos, CONVERT_File_Dos2Ansi
 *                       copy the source file to the destination (created or emptied) through
 *                       the conversion above, in blocks of 500 bytes, line ends untouched. A
 *                       source that cannot be opened leaves the destination alone; when the
 *                       destination cannot be opened, or a read or write fails, no destination
 *                       is left that this call created or half wrote. A destination that the
 *                       source is, or that another process holds open, is refused.
 * CONVERT_Ansi2Plain7   7-bit text: accented letters become their base letter, ß 's', » '>',
 *                       « '<', ¡ '!', × 'x', ÷ '%', other bytes above 0x80 '?'. Returns the number
 *                       of bytes looked up or replaced (blanks and zero bytes count as looked up).
 * CONVERT_Ansi2Plain5   the 5-bit repertoire: capitals, digits and '()+,-./:=? and blank; other
 *                       punctuation by a fixed substitute ('*' becomes a small 'x'); all else '?'.
 *                       The whole terminated text is upper-cased (a-z), not only `length` bytes.
 * CONVERT_ExpandUmlaute writes Ä Ö Ü ä ö ü ß out as Ae Oe Ue ae oe ue ss and € as EUR in the
 *                       first `length` characters (at most 499) and ends the text after them.
 *                       Returns the number of characters written out. The buffer must hold the
 *                       grown text: up to three times the converted length plus one.
 * CONVERT_Check8Bit     when at least one byte and at most 34 percent of the bytes have the top
 *                       bit set, writes the umlauts of the whole text out and reduces it to 7
 *                       bits; otherwise leaves it alone. Returns the text. The buffer must hold
 *                       the grown text.
 * CONVERT_UTF82Ansi     UTF-8 to one ANSI byte per character: U+0080-U+00FF as Latin-1, curly
 *                       quotes as plain ones, the euro sign as 0x80; four-byte and broken
 *                       sequences as '?'. The text only shrinks.
 * CONVERT_SwitchChar    replaces every `find` in the text by `replacement`. Returns 1.
 * CONVERT_ByteString    the value with full stops between groups of three digits, blanks in
 *                       front up to `width` (at most 99).
 * CONVERT_KByteString   up to 5120 the value (with one trailing blank when `blank` is set),
 *                       above it the value in units of 1024 followed by " K".
 * The two byte count texts are static: each call replaces the text of its previous call. */
#ifndef LINDAVOX_UTIL_CONVERT_H
#define LINDAVOX_UTIL_CONVERT_H

#include <stdint.h>

#include "platform/export.h"

LV_API void CONVERT_Ansi2Ibm(char* data, int32_t length);
LV_API void CONVERT_Ibm2Ansi(char* data, int32_t length);
LV_API void CONVERT_File_Ansi2Dos(const char* destination, const char* source);
LV_API void CONVERT_File_Dos2Ansi(const char* destination, const char* source);
LV_API int32_t CONVERT_Ansi2Plain7(char* text, int32_t length);
LV_API void CONVERT_Ansi2Plain5(char* text, int32_t length);
LV_API int32_t CONVERT_ExpandUmlaute(char* text, int32_t length);
LV_API char* CONVERT_Check8Bit(char* text);
LV_API void CONVERT_UTF82Ansi(char* text);
LV_API uint8_t CONVERT_SwitchChar(char* text, char find, char replacement);
LV_API char* CONVERT_ByteString(uint32_t value, uint32_t width);
LV_API char* CONVERT_KByteString(uint32_t value, uint8_t blank);

#endif
