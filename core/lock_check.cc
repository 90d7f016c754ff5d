#include "core/lock.h"

#include <cstdio>
#include <cstdlib>

#ifndef NDEBUG
void expect_engine_lock(const char* function) {
  if (engine_lock_depth() > 0) return;
  fprintf(stderr, "BUG: %s without the engine lock\n", function);
  abort();
}
#endif
