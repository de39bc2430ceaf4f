#pragma once
// Shared by the fuzz targets: a failed property is reported and aborts, so libFuzzer keeps the
// input as a crash file and scripts/fuzz.sh reports a finding.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// QUORLAN_FUZZ_SKIP=name,name...: checks by these names only print their failure and go on, so
// a long run can look past a fault already known (see FUZZ_CHECK_NAMED).
// Skipped failures in this input so far: what follows one may be its consequence.
inline int &fuzzSkippedFailures() {
  static int n = 0;
  return n;
}

inline bool fuzzCheckSkipped(const char *name) {
  static const std::string skip = [] {
    const char *v = std::getenv("QUORLAN_FUZZ_SKIP");
    return "," + std::string(v ? v : "") + ",";
  }();
  return skip.find("," + std::string(name) + ",") != std::string::npos;
}

#define FUZZ_CHECK(cond, ...)                                                   \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "\nPROPERTY FAILED at %s:%d: %s\n  ", __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, __VA_ARGS__);                                        \
      std::fprintf(stderr, "\n");                                               \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

#define FUZZ_CHECK_NAMED(name, cond, ...)                                       \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "\nPROPERTY FAILED [%s] at %s:%d: %s\n  ", name, __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, __VA_ARGS__);                                        \
      std::fprintf(stderr, "\n");                                               \
      if (!fuzzCheckSkipped(name)) std::abort();                                \
      ++fuzzSkippedFailures();                                                  \
    }                                                                           \
  } while (0)
