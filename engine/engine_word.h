// A word of engine state that other threads may read without the engine lock while the audio
// thread changes it (track length, position, role registers, play lists, frame counter).
// Every write happens under the engine mutex, so updates are a relaxed load and store, never an
// atomic read-modify-write; on the targets this compiles to plain loads and stores.
#pragma once

#include <atomic>

template <typename T>
struct EngineWord {
  std::atomic<T> value{};

  constexpr EngineWord() = default;
  constexpr EngineWord(T v) : value(v) {}
  EngineWord(const EngineWord& other) : value(other.load()) {}
  EngineWord& operator=(const EngineWord& other) {
    store(other.load());
    return *this;
  }

  T load() const { return value.load(std::memory_order_relaxed); }
  void store(T v) { value.store(v, std::memory_order_relaxed); }
  operator T() const { return load(); }

  EngineWord& operator=(T v) {
    store(v);
    return *this;
  }
  EngineWord& operator+=(T d) {
    store(T(load() + d));
    return *this;
  }
  EngineWord& operator-=(T d) {
    store(T(load() - d));
    return *this;
  }
  EngineWord& operator|=(T bits) {
    store(T(load() | bits));
    return *this;
  }
  EngineWord& operator&=(T bits) {
    store(T(load() & bits));
    return *this;
  }
  EngineWord& operator++() { return *this += T(1); }
  EngineWord& operator--() { return *this -= T(1); }
  T operator++(int) {
    T old = load();
    store(T(old + 1));
    return old;
  }
  T operator--(int) {
    T old = load();
    store(T(old - 1));
    return old;
  }
};
