// vantor, the card editor.
#include "ui/wx/wx_backend.h"
#include "vantor/vantor.h"

int main(int argc, char** argv) {
  if (!ui::InstallWxBackend(argc, argv)) return 1;
  return vantor::Main(argc > 0 ? argv[0] : nullptr);
}
