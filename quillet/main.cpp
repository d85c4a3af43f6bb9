// quillet, the balance query.
#include "quillet/quillet.h"
#include "ui/wx/wx_backend.h"

int main(int argc, char** argv) {
  if (!ui::InstallWxBackend(argc, argv)) return 1;
  return quillet::Main(argc > 0 ? argv[0] : nullptr);
}
