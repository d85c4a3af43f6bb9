/* Calls the card store through the public C headers, compiled as C and linked against one of
 * the exported libraries (libvantor.so or libquillet.so, chosen by LV_BALANCE_QUERY). */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "placement/window_pos.h"
#include "store/prepaid.h"
#include "util/base64.h"
#include "util/convert.h"
#include "util/file_open.h"
#include "util/files.h"
#include "util/launch.h"
#include "util/lib_strings.h"
#include "util/line_edit.h"
#include "util/split_line.h"
#include "util/time_format.h"

#ifdef LV_BALANCE_QUERY
#define OPEN myfopen
#define CLOSE myfclose
#else
#define OPEN FILE_fopen
#define CLOSE FILE_fclose
#endif

static int failures = 0;
static int checks = 0;

#define CHECK(condition)                                                      \
  do {                                                                        \
    ++checks;                                                                 \
    if (!(condition)) {                                                       \
      ++failures;                                                             \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
    }                                                                         \
  } while (0)

static void put32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(value >> (8 * i));
}

/* A record with card number, balance and the telephone number 0301234567. */
static void make_record(unsigned char* record, int32_t number, int32_t balance) {
  memset(record, 0, PREPAID_RECORD_SIZE);
  put32(record + 0, (uint32_t)number);
  put32(record + 4, (uint32_t)balance);
  record[10] = 10;
  put32(record + 24, 0);
  put32(record + 28, 301234567);
}

int main(void) {
  char dir[] = "/tmp/lindavox-c-XXXXXX";
  if (!mkdtemp(dir)) return 2;
  char prefix[64], path[96];
  snprintf(prefix, sizeof prefix, "%s/", dir);
  snprintf(path, sizeof path, "%sPREPAID.DAT", prefix);

  unsigned char records[3 * PREPAID_RECORD_SIZE];
  make_record(records, 10, 0);
  make_record(records + PREPAID_RECORD_SIZE, 20, 50);
  make_record(records + 2 * PREPAID_RECORD_SIZE, 30, 70);

  /* "ab" creates the file; the stream is a plain C stream. */
  FILE* out = OPEN(path, "ab", 0);
  CHECK(out != NULL);
  if (out) fwrite(records, 1, sizeof records, out);
  CHECK(CLOSE(&out) == 0 && out == NULL);

  /* Placement takes the framework's windows; without one it places and stores nothing. */
#ifdef LV_BALANCE_QUERY
  CHECK(RestorePosition(NULL, "Lindavox", "quillet_pos", 350, 170, 0) == 0);
  CHECK(SavePosition(NULL, "Lindavox", "quillet_pos") == 0);
  CHECK(CenterDialog(NULL) == 0);
#else
  CHECK(WindowPos_Restore(NULL, "Lindavox", "quillet_pos", 350, 170, WPR_KEEPWIDTH, 0, 0) == 0);
  WindowPos_Save(NULL, "Lindavox", "quillet_pos", 1);
  CHECK(WindowPos_Center(NULL, 1) == 0);
  CHECK(GetStartState(10, 1) == 10);
#endif

  PrepaidConfig config;
  memset(&config, 0xAB, sizeof config);
  CHECK(Prepaid_ReadConfig(prefix, &config) == 0); /* no PREPAID.BIN */
  CHECK(config.modeNotLink == 0 && config.hangupAtEnd == 1);
  CHECK(config.cardDigits == 0xABAB);

  PrepaidCard card;
  int32_t index = -5;
  CHECK(Prepaid_Search(prefix, 20, &index, &card) == 1);
  CHECK(index == 1 && card.cardNumber == 20 && card.balance == 50 && card.telefonDigits == 10);

  card.balance = 1000000000;
  CHECK(Prepaid_Write(prefix, index, &card) == 1);
  CHECK(Prepaid_Write(prefix, -1, &card) == 0);
  CHECK(Prepaid_Search(prefix, 20, &index, &card) == 1 && card.balance == 1000000000);

  /* The card editor's telephone search skips the empty card 10; the balance query's does not. */
  CHECK(Prepaid_Search_Telefon(prefix, 1, 301234567, 0, &index, &card) == 1);
#ifdef LV_BALANCE_QUERY
  CHECK(index == 0 && card.cardNumber == 10);
#else
  CHECK(index == 1 && card.cardNumber == 20);
#endif
  /* A one-byte flag: a caller that passes the int 256 (no prototype, or a declaration of its
   * own) hands over all 32 bits, and the function must look at the low byte only. */
  typedef int32_t (*SearchTelefonWithInt)(const char*, int32_t, int32_t, int32_t, int32_t*,
                                          PrepaidCard*);
  SearchTelefonWithInt searchWithInt = (SearchTelefonWithInt)(void (*)(void))Prepaid_Search_Telefon;
  index = 77;
  CHECK(searchWithInt(prefix, 256, 301234567, 0, &index, &card) == 0);
  CHECK(index == 77);

  /* An exclusive read shares nothing in the card editor's generation only; 256 is not
   * exclusive. */
  typedef FILE* (*OpenWithInt)(const char*, const char*, int32_t);
  OpenWithInt openWithInt = (OpenWithInt)(void (*)(void))OPEN;
  FILE* shared = OPEN(path, "rb", 0);
  FILE* exclusive = OPEN(path, "rt", 1);
#ifdef LV_BALANCE_QUERY
  CHECK(exclusive != NULL);
#else
  CHECK(exclusive == NULL);
#endif
  CLOSE(&exclusive);
  exclusive = openWithInt(path, "rt", 256);
  CHECK(exclusive != NULL);
  CLOSE(&exclusive);
  CLOSE(&shared);
  CHECK(CLOSE(&shared) == 0);

  /* Date texts, at UTC: the packed words 2026-12-06 13:30:10 and seconds since 1970. */
  setenv("TZ", "UTC", 1);
  tzset();
  char text[41];
  DateRecord date;
  TimeRecord time;
  PackedDateTime packed = 0x5D866BC5;
#ifdef LV_BALANCE_QUERY
  ffblkTime2Struct(&date, &time, 0x5D86, 0x6BC5);
  CHECK(date.year == 2026 && date.month == 12 && date.day == 6 && time.second == 10);
  CHECK(strcmp(datetime2string(text, &date, &time), "06.12.26 13:30") == 0);
  CHECK(strcmp(ffblkTime2String(text, 0x5D86, 0x6BC5, 1, " um "), "06.12.26 um 13:30:10") == 0);
  CHECK(strcmp(time2string(text, 0), "01.01.70 00:00") == 0);
  CHECK(strlen(getemaildate(text)) == 14);
  CHECK(GetFileTimeString(path)[0] != '\0' && GetFileTimeString(dir)[0] != '\0');
  (void)packed;
#else
  TIME_ffblk2struct(&date, &time, 0x5D86, 0x6BC5);
  CHECK(date.year == 2026 && date.month == 12 && date.day == 6 && time.second == 10);
  CHECK(strcmp(TIME_ffblk2string2(text, 0x5D86, 0x6BC5), "06-Dec-2026 13:30 GMT") == 0);
  CHECK(strcmp(TIME_unix2string(text, 0, 1), "01.01.1970 00:00") == 0);
  CHECK(ftimetounix(&packed) == 1796563810);
  char line[80];
  TIME_GetRFCDate(line, 1, 0, &packed);
  CHECK(strcmp(line, "Date: Sun,  6 Dec 2026 13:30:10 -0000 (GMT)\r\n") == 0);
  SYSTEMTIME now;
  CHECK(TIME_GetRelativeSystemTime(&now, 0) == 1 && now.wDayOfWeek == 0 && now.wYear >= 2026);
  CHECK(TIME_GetMyTimeZoneDelay() == 0);
  CHECK(TIME_GetRFCDate_byFilename(path)[0] != '\0');
#endif

#ifndef LV_BALANCE_QUERY
  /* The text conversions, and a file edit on the card file's folder. */
  char ansi[64] =
      "Gr\xFC\xDF"
      "e \xBB 5";
  char encoded[64];
  CHECK(CONVERT_Ansi2Plain7(ansi, (int32_t)strlen(ansi)) == 5 && strcmp(ansi, "Gruse > 5") == 0);
  CHECK(CONVERT_Encode64(encoded, "ABC") == 1 && strcmp(encoded, "QUJD") == 0);
  CHECK(strcmp(CONVERT_ByteString(1234567, 0), "1.234.567") == 0);
  char lines[128], work[128];
  snprintf(lines, sizeof lines, "%slines.txt", prefix);
  snprintf(work, sizeof work, "%slines.bak", prefix);
  FILE* file = fopen(lines, "wb");
  if (file) fputs("one\r\ntwo\r\n", file), fclose(file);
  CHECK(CONVERT_RemoveLineByLinenumber(lines, work, 0) == 1);
  file = fopen(lines, "rb");
  char back[16] = "";
  if (file) back[fread(back, 1, sizeof back - 1, file)] = 0, fclose(file);
  CHECK(strcmp(back, "two\r\n") == 0);
  unlink(lines);
#endif
  /* The string helpers and the field splitter of the program's generation. */
  char order[] = "A,00042,100\n";
  char f1[200], f2[200], f3[200];
  char copy[8];
#ifdef LV_BALANCE_QUERY
  CHECK(GetLineParts(order, f1, f2, f3, NULL, NULL, NULL, NULL, NULL, NULL) == 3);
  CHECK(strcmp(sName("C:\\a\\b.txt", '\\'), "b.txt") == 0);
  CHECK(strcmp(sNameBody("/a/b.tar.gz"), "b.tar") == 0);
  CHECK(mystrncpy(copy, "abcdef", 3) == copy && strcmp(copy, "abc") == 0);
#else
  CHECK(CONVERT_SplitLine(order, ',', f1, f2, f3, NULL, NULL, NULL, NULL, NULL, NULL, NULL) == 3);
  CHECK(strcmp(LIB_FilenameExtension("/a/b.tar.gz"), "gz") == 0);
  CHECK(LIB_strcmp("\xE4pfel", "\xC4PFEL") == 0);
  CHECK(LIB_strncpy(copy, "abcdef", 3) == copy && strcmp(copy, "abc") == 0);
#endif
  CHECK(strcmp(f1, "A") == 0 && strcmp(f2, "00042") == 0 && strcmp(f3, "100") == 0);

  /* The file utilities of the program's generation on the card file's folder. */
  char copied[128];
  snprintf(copied, sizeof copied, "%scopy.dat", prefix);
#ifdef LV_BALANCE_QUERY
  CHECK(FileCopy(copied, path, 0, 0) == 1);
  CHECK(MyGetFileSize(copied) == 3 * PREPAID_RECORD_SIZE);
  CHECK(MyGetFileTime(copied) == MyGetFileTime(path));
  CHECK(ExistFile(prefix, "*.dat") == 1 && ExistFile(prefix, "*.txt") == 0);
  CHECK(saveremove(copied) == 0 && ExistFile(copied, NULL) == 0);
#else
  int32_t size = 0;
  CHECK(FILE_Copy(copied, path, 0, 1, 0, &size) == 1 && size == 3 * PREPAID_RECORD_SIZE);
  CHECK(FILE_GetTime(copied) == FILE_GetTime(path));
  CHECK(FILE_Exist(prefix, "*.dat", NULL) == 1 && FILES_TestExclusive(path, prefix) == 1);
  CHECK(FILE_saveremove(copied) == 0 && FILE_Exist(copied, NULL, NULL) == 0);
  CHECK(LIB_isXP() == 1);
  CHECK(strcmp(LIB_LastErrorString(LIB_NO_MESSAGE_BOX, 2), "No such file or directory") == 0);
#endif

  /* Card codes need PREPAID.BIN; an order file adds a card. */
  char code[] = "ABC";
  CHECK(Prepaid_GetSerialNumber(prefix, code, &config) == -1 && strcmp(code, "ABC") == 0);
  char orders[96];
  snprintf(orders, sizeof orders, "%sPREPAID.INC", prefix);
  FILE* out2 = fopen(orders, "wb");
  if (out2) {
    fputs("A,40,400\r\n", out2);
    fclose(out2);
  }
  CHECK(Prepaid_Include(prefix, prefix) == 1);
  CHECK(Prepaid_Search(prefix, 40, &index, &card) == 1 && index == 3 && card.balance == 400);
  CHECK(Prepaid_Include(prefix, prefix) == 0); /* the order file is gone */

  /* The report lists the cards with units after its date line; the compaction drops card 10. */
  config.cardDigits = 3;
  CHECK(Prepaid_Export(prefix, prefix, &config) == 1);
  char report[96], reportText[128] = "";
  snprintf(report, sizeof report, "%sPREPAID.TXT", prefix);
  FILE* in = fopen(report, "rb");
  if (in) reportText[fread(reportText, 1, sizeof reportText - 1, in)] = 0, fclose(in);
#ifdef LV_BALANCE_QUERY
  const size_t dateLength = strlen("06.12.26 13:30");
#else
  const size_t dateLength = strlen("06.12.26 13:30:11");
#endif
  CHECK(strlen(reportText) > dateLength && reportText[2] == '.' &&
        strcmp(reportText + dateLength, "\r\n020,1000000000,\r\n030,70,\r\n040,400,\r\n") == 0);
  CHECK(Prepaid_Reorganize(prefix) == 1);
  CHECK(Prepaid_Search(prefix, 40, &index, &card) == 1 && index == 2);
  unlink(report);

  unlink(path);
  rmdir(dir);
  printf("c_api: %d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
