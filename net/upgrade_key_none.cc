// No upgrade key: the build was configured without -DZT4_UPGRADE_KEY. This file defines nothing
// else, so an executable whose own key source defines the name never takes it from the library.
#include "net/upgrade_key.h"

const UpgradeKeyTable* const upgrade_builtin_key = nullptr;
