/* Base64 (the alphabet and padding of RFC 4648) for short texts, and ROT13.
 *
 * CONVERT_Encode64(output, text) writes the Base64 form of the text's bytes into `output` as one
 * unbroken, padded line, zero-terminated. Only the first 999 characters of a longer text are
 * encoded. `output` needs 4 characters for every started group of 3 bytes, plus 1 (at most
 * 1333). Returns 1; 0 only for a null output, which is left alone (a null text counts as
 * empty).
 *
 * CONVERT_Decode64(output, data, length) decodes the first `length` characters of `data` (at
 * most 999, and never past its terminating zero) into `output` as a zero-terminated text.
 * Padding may be left out, and characters outside the alphabet (line breaks, blanks, '=') are
 * skipped. Because the result is a text, a decoded zero byte drops the rest of its group of
 * three. `output` needs at most 750 characters. Returns 1; 0 only for a null output.
 *
 * CONVERT_base64helper(c) is the 6-bit value of an alphabet character, 0 for any other.
 *
 * CONVERT_ROT13(text) moves every letter a-z and A-Z 13 places on within its alphabet, in
 * place; other bytes stay. Applied twice it gives the text back. Returns the text. */
#ifndef LINDAVOX_UTIL_BASE64_H
#define LINDAVOX_UTIL_BASE64_H

#include <stdint.h>

#include "platform/export.h"

LV_API int32_t CONVERT_Encode64(char* output, const char* text);
LV_API int32_t CONVERT_Decode64(char* output, const char* data, int32_t length);
LV_API int32_t CONVERT_base64helper(char c);
LV_API char* CONVERT_ROT13(char* text);

#endif
