// The two names that address the host's settings store.
#pragma once

#include <string>

namespace Preferences {

void PrefsPrepare(const std::string& company, const std::string& product);
std::string PrefsCompany();
std::string PrefsProduct();

}  // namespace Preferences
