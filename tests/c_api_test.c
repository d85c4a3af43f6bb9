/* Calls the card store through the public C headers, compiled as C and linked against one of
 * the exported libraries (libvantor.so or libquillet.so, chosen by LV_BALANCE_QUERY). */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "placement/window_pos.h"
#include "store/prepaid.h"
#include "util/file_open.h"

#ifdef LV_BALANCE_QUERY
#define OPEN myfopen
#define CLOSE myfclose
#else
#define OPEN FILE_fopen
#define CLOSE FILE_fclose
#endif

static int failures = 0;
static int checks = 0;

#define CHECK(condition)                                               \
  do {                                                                 \
    ++checks;                                                          \
    if (!(condition)) {                                                \
      ++failures;                                                      \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
    }                                                                  \
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

  unlink(path);
  rmdir(dir);
  printf("c_api: %d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
