// The host application's side of the desktop layer, asked through the table
// the layer holding Qt lends (the Qt back end itself in platform/UiQt.cpp,
// reached directly where it is built in and through the ui module's gate in
// the shared library). The ui module carries a copy of its own, which its
// entry fills with the Qt back end.
#include <atomic>

#include "platform/base/UiLayer.h"

namespace Ui {
namespace {

std::atomic<const Host*> g_host{nullptr};

}  // namespace

void InstallHost(const Host* host) { g_host = host; }

bool HostHasWidgets() {
  const Host* host = g_host;
  return host != nullptr && host->hasWidgets != nullptr && host->hasWidgets();
}

QWidget* ActiveWindow() {
  const Host* host = g_host;
  return host != nullptr && host->activeWindow != nullptr ? host->activeWindow() : nullptr;
}

std::string HostAppTitle() {
  const Host* host = g_host;
  return host != nullptr && host->appTitle != nullptr ? host->appTitle() : std::string();
}

Backend* HostBackend() {
  const Host* host = g_host;
  return host != nullptr && host->backend != nullptr ? host->backend() : nullptr;
}

}  // namespace Ui
