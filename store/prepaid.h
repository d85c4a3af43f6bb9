/* The prepaid card store: configuration, lookup and update of card records.
 *
 * The store is a set of plain files in a data directory that the telephony server and the
 * tools use at the same time. `dataDir` is always a directory prefix ending with '/' (or empty
 * for the current directory); file names are formed as dataDir + "PREPAID.DAT" and so on.
 * Every call opens the files it needs with full sharing, works, and closes them again before
 * it returns, on every path; nothing is cached. Functions return 1 for success and 0 for
 * failure and show no messages. Null pointer arguments give the failure result.
 *
 * Data and exchange directories may be shared by a group: a symbolic link there is followed
 * only when root, the owner of its folder or the caller made it (otherwise the call fails and
 * changes nothing), files are created exclusively, and a file created in a folder its group may
 * write takes the folder's group and is group-writable, whatever the umask.
 *
 * PREPAID.DAT is a headerless sequence of 32-byte little-endian records (PrepaidCard); record i
 * lies at offset 32 * i, and i is the record index that the searches give out and
 * Prepaid_Write takes. A trailing piece of fewer than 32 bytes is ignored. */
#ifndef LINDAVOX_STORE_PREPAID_H
#define LINDAVOX_STORE_PREPAID_H

#include <stddef.h>
#include <stdint.h>

#include "platform/export.h"

/* Store settings, filled by Prepaid_ReadConfig. */
typedef struct PrepaidConfig {
  int32_t hangupAtEnd;  /* 1 when LINDAVOX.INI [Common] PrepaidEnd begins with 'H' */
  int32_t modeNotLink;  /* 0 when LINDAVOX.INI [Common] PrepaidMode begins with 'L' */
  uint16_t cardDigits;  /* PREPAID.BIN codeLength - checkLength (16-bit, wrapping) */
  uint16_t checkDigits; /* PREPAID.BIN checkLength */
} PrepaidConfig;

/* One record of PREPAID.DAT; the in-memory layout equals the file layout on little-endian
 * hosts, but the store always converts field by field. */
typedef struct PrepaidCard {
  int32_t cardNumber;
  int32_t balance;       /* units; 0 means empty */
  uint8_t reserved[2];   /* not interpreted; kept by every update */
  uint8_t telefonDigits; /* digits of the telephone number, leading zeros included */
  uint8_t lastDigits;    /* digits of the last number, leading zeros included */
  int32_t lastHigh;      /* last number: leading digits */
  int32_t lastLow;       /* last number: trailing digits */
  uint32_t flags;        /* bit 31: locked */
  int32_t telefonHigh;   /* telephone number: digits before the last nine */
  int32_t telefonLow;    /* telephone number: the last nine digits */
} PrepaidCard;

#define PREPAID_CARD_LOCKED 0x80000000u
#define PREPAID_RECORD_SIZE 32

#ifdef __cplusplus
static_assert(sizeof(PrepaidCard) == PREPAID_RECORD_SIZE, "PrepaidCard is one record");
static_assert(offsetof(PrepaidCard, telefonDigits) == 10 && offsetof(PrepaidCard, flags) == 20 &&
                  offsetof(PrepaidCard, telefonLow) == 28,
              "PrepaidCard has the file layout");
static_assert(sizeof(PrepaidConfig) == 12, "PrepaidConfig layout");
#else
_Static_assert(sizeof(PrepaidCard) == PREPAID_RECORD_SIZE, "PrepaidCard is one record");
_Static_assert(sizeof(PrepaidConfig) == 12, "PrepaidConfig layout");
#endif

/* Reads the two flags from LINDAVOX.INI (defaults "Link" and "Hangup"; only the first character
 * counts, case-sensitively) and the two digit counts from the header of PREPAID.BIN. Returns 1
 * when PREPAID.BIN could be opened and holds at least the 6 bytes of the digit counts, else 0.
 * The flags are set in both cases; the digit counts only on success. */
LV_API int32_t Prepaid_ReadConfig(const char* dataDir, PrepaidConfig* config);

/* Finds the first record with `cardNumber`. 1: found and not locked; `*card` receives the
 * record and `*index` its position. 0: otherwise, and `*index` holds the position of a locked
 * match, or the number of whole records when there is no match, or 0 when PREPAID.DAT is
 * missing or cannot be opened (no ordinary file), or -1 when that position or number is beyond
 * what an index can name (2147483647); with `cardNumber` -1 nothing is read and `*index` is
 * untouched. */
LV_API int32_t Prepaid_Search(const char* dataDir, int32_t cardNumber, int32_t* index,
                              PrepaidCard* card);

/* Finds the first record whose telephone parts equal `telefonLow` and `telefonHigh` (the digit
 * count is not compared), as Prepaid_Search does. With `enabled` 0 (low byte) nothing is read
 * and `*index` is untouched. The card editor's library (libvantor) also requires a non-zero
 * balance; the balance query's (libquillet) matches on the telephone parts alone. */
LV_API int32_t Prepaid_Search_Telefon(const char* dataDir, uint8_t enabled, int32_t telefonLow,
                                      int32_t telefonHigh, int32_t* index, PrepaidCard* card);

/* Writes `*card` as record `index` of an existing PREPAID.DAT (never creates the file; an index
 * at or beyond the end extends it). Returns 1 only when all 32 bytes were written; a negative
 * index returns 0 and writes nothing, and so does 2147483647 unless the file already reaches
 * that far (the file would hold more records than an index can name). */
LV_API int32_t Prepaid_Write(const char* dataDir, int32_t index, const PrepaidCard* card);

/* Applies the card orders of PREPAID.INC in `exchangeDir` to PREPAID.DAT in `dataDir` (created
 * when missing) and deletes the order file. Batch marker lines (first character 'E') are
 * recorded in PREPAID.TRR; a batch whose marker is recorded already ends the import there.
 * Order lines "command,card number[,amount]": 'A' adds the amount (creating the card when
 * absent), 'D' empties the card, 'L' locks and 'U' unlocks it; other commands, absent cards for
 * 'D', 'L', 'U' and amounts of 0 are skipped. Lines that cannot be applied go to PREPAID.REJ;
 * a journal, PREPAID.INJ, lets an interrupted import be finished without applying any order
 * twice. Returns 1 when the order file was processed and deleted (also when the import ended
 * early), 0 when nothing was done, or when a write failed and PREPAID.INC was replaced by the
 * lines not yet applied. The card editor's library splits lines with CONVERT_SplitLine, the
 * balance query's with GetLineParts. */
LV_API int32_t Prepaid_Include(const char* exchangeDir, const char* dataDir);

/* Writes the card report PREPAID.TXT into `exchangeDir`: a line with the local date and time
 * ("06.12.26 13:30:11"; the balance query's library writes "06.12.26 13:30"), the batch marker
 * lines of PREPAID.TRR as the import recorded them, and one line per card of PREPAID.DAT in
 * `dataDir` whose balance is not 0, in file order: the card number with leading zeros to
 * config->cardDigits digits, at most 10 (more digits are written in full), a comma, the
 * balance, a comma, and "L" for a locked card ("00042,150," and "00043,-5,L"). Lines end in
 * CR LF. The report is
 * written beside PREPAID.TXT and renamed over it when complete, and PREPAID.TRR is deleted only
 * after that: returns 1 when the whole report is in place and PREPAID.TRR is gone; 0 when
 * PREPAID.DAT is missing or cannot be read, or the report cannot be written completely or put in
 * place, with PREPAID.TXT and PREPAID.TRR as they were, or when PREPAID.TRR could not be deleted
 * after the report was put in place (its markers then appear again in the next report). A
 * PREPAID.TRR that another program holds open is left for the next report. */
LV_API int32_t Prepaid_Export(const char* exchangeDir, const char* dataDir,
                              const PrepaidConfig* config);

/* Compacts PREPAID.DAT in `dataDir`: the records whose balance is not 0 are kept, unchanged and
 * in their order (a trailing piece of a record is dropped); record indices found before are
 * stale afterwards. The card file is opened denying writers for the pass, the cards are written
 * to PREPAID.NEW, which is synced and renamed over PREPAID.DAT in one step. Returns 1 when
 * PREPAID.DAT is the compacted file; 0 when it is missing, when another process has it open
 * (for writing during the pass, or at all at the moment of the replacement), when it is a
 * symbolic link (which the compacted file would replace), or when anything fails: PREPAID.DAT is
 * then exactly as it was and PREPAID.NEW is removed. */
LV_API int32_t Prepaid_Reorganize(const char* dataDir);

/* Decodes a card code with the tables of PREPAID.BIN and checks it. Each of the n symbols of
 * `code` is looked up in the symbol row of its position (the first match gives the digit) and
 * replaced in `code` by that digit character, in input order; a symbol that its row lacks stops
 * the decoding there, leaving the later symbols as they were. The digits are then reordered by
 * the position table; the first config->cardDigits of them are the card number K, the rest the
 * check value V, which must equal the check word of K plus the header's check offset. Returns K,
 * or -1 for every failure: PREPAID.BIN missing or its 184-byte header incomplete, code tables
 * that give card numbers more than 10 digits (config->cardDigits above 10), a code of more
 * than 16 symbols (refused before any symbol is replaced), an unknown symbol or position,
 * a code shorter than cardDigits (the empty code included), a K beyond the 32-bit range or
 * beyond the end of the check word table, or a check value that does not match. */
LV_API int32_t Prepaid_GetSerialNumber(const char* dataDir, char* code,
                                       const PrepaidConfig* config);

#endif
