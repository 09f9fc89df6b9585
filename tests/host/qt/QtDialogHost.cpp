// A host with a Qt application that binds the library by its file name, as
// the desktop program does: it opens one option dialog through the exported
// interface (pressing OK for the user), converts the still q.bmp the test
// left in the scratch folder, and prints what it saw, one fact a line, for
// HostModulesTest to check.
//   QtDialogHost <library file> <scratch folder>
#include <dlfcn.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <string>

#include "host/HostMaps.h"
#include "qor.h"

namespace {

template <class F>
F* Sym(void* handle, const char* name) {
  return reinterpret_cast<F*>(dlsym(handle, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  QApplication app(argc, argv);
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::printf("open %s\n", dlerror());
    return 1;
  }
  auto* alloc = Sym<decltype(QorAlloc)>(lib, "QorAlloc");
  auto* codecDlg = Sym<decltype(QorCodecDlg)>(lib, "QorCodecDlg");
  auto* lastError = Sym<decltype(QorGetLastError)>(lib, "QorGetLastError");
  auto* errorStr = Sym<decltype(QorMakeErrorStr)>(lib, "QorMakeErrorStr");
  auto* convert = Sym<decltype(QorQuickConvert)>(lib, "QorQuickConvert");

  // The user: OK on whatever modal dialog the library shows.
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->accept();
  });
  user.start(20);

  std::printf("ui-before %d\n", Mapped("libqor-ui-2.8.0.so") ? 1 : 0);
  constexpr int32_t kTga = 1;
  const QorBool shown = codecDlg(alloc(), kTga, 320, 240, 24);
  QorLastError rec{-1, -1, -1};
  lastError(&rec);
  char text[2048] = {};
  errorStr(&rec, text);
  std::printf("dialog %d class %d code %d\n", shown, rec.errClass, rec.code);
  std::printf("text %s\n", text);
  std::printf("ui-after %d\n", Mapped("libqor-ui-2.8.0.so") ? 1 : 0);

  const std::string bmp = std::string(argv[2]) + "/q.bmp", png = std::string(argv[2]) + "/q.png";
  std::printf("still %d\n", convert(png.c_str(), bmp.c_str(), "", K_AUTO, K_AUTO,
                                    static_cast<double>(K_AUTO)));
  return 0;
}
