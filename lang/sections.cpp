// The section table of the language files.
#include "lang/lang_internal.h"

namespace lang {
namespace {

// One fixed field of 20 characters per section, as the language files of the whole product
// family number them. This system reads only "common" (0), "lib" (1) and "PREPAID" (39); the
// other entries belong to the family's other programs and only keep their places here.
constexpr char kSections[kSectionCount][20] = {
    "common",    "lib",       "section02", "section03", "section04", "section05", "section06",
    "section07", "section08", "section09", "section10", "section11", "section12", "section13",
    "section14", "section15", "section16", "section17", "section18", "section19", "section20",
    "section21", "section22", "section23", "section24", "section25", "section26", "section27",
    "section28", "section29", "section30", "section31", "section32", "section33", "section34",
    "section35", "section36", "section37", "section38", "PREPAID",   "section40", "section41",
    "section42", "section43", "section44", "section45", "section46", "section47", "section48",
    "section49", "section50", "section51",
};

}  // namespace

const char* SectionName(int32_t index) {
  if (index < 0 || index >= kSectionCount) return nullptr;
  return kSections[index];
}

}  // namespace lang
