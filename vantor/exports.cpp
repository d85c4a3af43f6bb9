// The export table of the card editor (the program vantor and libvantor.so): the
// functions whose newer generation differs from the other program's. CMakeLists.txt lists every
// name the program exports; the generation-neutral store functions (Prepaid_ReadConfig,
// Prepaid_Search, Prepaid_Write) are defined by the store itself.
#include "store/import.h"
#include "store/prepaid.h"
#include "store/report.h"
#include "store/store_internal.h"
#include "util/file_open.h"
#include "util/file_open_internal.h"

int32_t Prepaid_Search_Telefon(const char* dataDir, uint8_t enabled, int32_t telefonLow,
                               int32_t telefonHigh, int32_t* index, PrepaidCard* card) {
  return store::SearchTelefon(dataDir, enabled, telefonLow, telefonHigh, index, card,
                              store::TelefonMatch::kWithUnitsOnly);
}

FILE* FILE_fopen(const char* path, const char* mode, uint8_t exclusive) {
  return util::Fopen(path, mode, exclusive != 0, util::FopenGeneration::kCurrent);
}

int32_t FILE_fclose(FILE** stream) { return util::Fclose(stream); }

int32_t Prepaid_Include(const char* exchangeDir, const char* dataDir) {
  return store::Include(exchangeDir, dataDir, util::SplitGeneration::kCurrent);
}

int32_t Prepaid_Export(const char* exchangeDir, const char* dataDir, const PrepaidConfig* config) {
  return store::Export(exchangeDir, dataDir, config, store::ReportDate::kWithSeconds);
}
