// The export table of the balance query (the program quillet and libquillet.so): the older
// generation of every exported name, and the balance query's variant of the store. The names
// below are exported here; the generation-neutral store functions (Prepaid_ReadConfig,
// Prepaid_Search, Prepaid_Write) come with the store itself.
//
//   Prepaid_ReadConfig  Prepaid_Search  Prepaid_Search_Telefon  Prepaid_Write
//   myfopen  myfclose
#include "store/prepaid.h"
#include "store/store_internal.h"
#include "util/file_open.h"
#include "util/file_open_internal.h"

int32_t Prepaid_Search_Telefon(const char* dataDir, uint8_t enabled, int32_t telefonLow,
                               int32_t telefonHigh, int32_t* index, PrepaidCard* card) {
  return store::SearchTelefon(dataDir, enabled, telefonLow, telefonHigh, index, card,
                              store::TelefonMatch::kAnyBalance);
}

FILE* myfopen(const char* path, const char* mode, uint8_t exclusive) {
  return util::Fopen(path, mode, exclusive != 0, util::FopenGeneration::kBalanceQuery);
}

int32_t myfclose(FILE** stream) { return util::Fclose(stream); }
