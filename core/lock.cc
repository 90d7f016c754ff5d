#include "core/lock.h"

#include <cstdio>
#include <cstdlib>

MainLoopLock main_loop_lock;

namespace {
pthread_mutex_t engine_mutex_storage = PTHREAD_MUTEX_INITIALIZER;
thread_local int lock_depth = 0;
}  // namespace

pthread_mutex_t* engine_mutex() { return &engine_mutex_storage; }

void engine_lock() {
  if (lock_depth++ == 0) pthread_mutex_lock(&engine_mutex_storage);
}

void engine_unlock() {
  if (lock_depth == 0) {
    fputs("BUG: jack_release_lock\n", stdout);
    fflush(stdout);
    exit(1);
  }
  if (--lock_depth == 0) pthread_mutex_unlock(&engine_mutex_storage);
}

int engine_lock_depth() { return lock_depth; }

void wake_main_loop() {
  MainLoopLock& m = main_loop_lock;
  if (pthread_mutex_trylock(&m.mutex) == 0) {
    pthread_cond_signal(&m.cond);
    pthread_mutex_unlock(&m.mutex);
  }
}
