#include "foundation/Preferences.h"

#include "foundation/Errors.h"

namespace Preferences {
namespace {
std::string g_company;
std::string g_product;
}  // namespace

void PrefsPrepare(const std::string& company, const std::string& product) {
  Errors::TraceScope t("Preferences.PrefsPrepare");
  g_company = company;
  g_product = product;
}

std::string PrefsCompany() { return g_company; }
std::string PrefsProduct() { return g_product; }

}  // namespace Preferences
