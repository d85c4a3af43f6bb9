/* The field splitter: one line of a comma- or semicolon-separated text file cut into fields.
 *
 * CONVERT_SplitLine(line, separator, d1, ..., d10) splits `line` in place (a final line feed,
 * the field ends and closing quotes are overwritten with terminators) and copies field k to
 * destination k, at most 99 characters and a terminator, so a destination holds 100
 * characters. Rules:
 *   - a field that begins with '"' runs to the next '"' (no escape); the character after the
 *     closing quote is passed over, whatever it is;
 *   - any other field ends at the next `separator`; where the rest of the line holds none, a
 *     comma separator falls back to the next ';' and a semicolon separator to the next ','
 *     (decided anew for each field);
 *   - a first field without an end gives 0 and stores nothing; a later one takes the rest of
 *     the line and ends the splitting;
 *   - field 4 is cut at its end only when destination 5 is given: with four destinations it
 *     holds the rest of the line from its start;
 *   - the splitting stops after field 10, when the next field would start at the end of the
 *     line (a trailing separator adds no empty field), or before a null destination.
 * Fields are not trimmed; an empty field between two separators counts. Returns the number of
 * fields stored. Destinations 1 and 2 are required (null gives 0).
 *
 * GetLineParts(line, d1, ..., d9) is the balance query's older form: comma separator,
 * nine fields, every field cut at its end and copied whole (the destinations must hold the
 * longest field of the line). */
#ifndef LINDAVOX_UTIL_SPLIT_LINE_H
#define LINDAVOX_UTIL_SPLIT_LINE_H

#include <stdint.h>

#include "platform/export.h"

LV_API int32_t CONVERT_SplitLine(char* line, char separator, char* d1, char* d2, char* d3, char* d4,
                                 char* d5, char* d6, char* d7, char* d8, char* d9, char* d10);

LV_API int32_t GetLineParts(char* line, char* d1, char* d2, char* d3, char* d4, char* d5, char* d6,
                            char* d7, char* d8, char* d9);

#endif
