// The math library, loaded on the first call instead of at every start.
//
// Few runs compute with it: the simulated board (its signal model calls pow, log, sincos, ...) and
// cn_read's log10. Most runs on a real adapter or a register server never do, yet with libm among
// the needed libraries the loader would open, map and relocate it before main on every run, a
// fifth of a short run's page faults.
// The programs link with --wrap for each of these functions (see CMakeLists.txt), so every call
// lands here, and here the same libm functions are looked up once, when first needed: the results,
// errno included, are those of the functions linked directly.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kLibm = "libm.so.6";

// The address of libm's `name`, libm opened on the first call; a libm that cannot be opened is a
// broken installation, and the run stops there as it would have at start.
void* libm_symbol(const char* name) {
  static void* const handle = dlopen(kLibm, RTLD_NOW | RTLD_LOCAL);
  void* symbol = handle != nullptr ? dlsym(handle, name) : nullptr;
  if (symbol == nullptr) {
    std::fprintf(stderr, "cannot load %s from %s\n", name, kLibm);
    std::abort();
  }
  return symbol;
}

// The function `name` of type F, looked up once per function.
template <typename F>
F* libm_function(const char* name) {
  return reinterpret_cast<F*>(libm_symbol(name));
}

}  // namespace

extern "C" {

double __wrap_pow(double x, double y) {
  static auto* const f = libm_function<double(double, double)>("pow");
  return f(x, y);
}

double __wrap_log(double x) {
  static auto* const f = libm_function<double(double)>("log");
  return f(x);
}

double __wrap_log10(double x) {
  static auto* const f = libm_function<double(double)>("log10");
  return f(x);
}

double __wrap_sqrt(double x) {
  static auto* const f = libm_function<double(double)>("sqrt");
  return f(x);
}

double __wrap_round(double x) {
  static auto* const f = libm_function<double(double)>("round");
  return f(x);
}

long __wrap_lround(double x) {
  static auto* const f = libm_function<long(double)>("lround");
  return f(x);
}

void __wrap_sincos(double x, double* sin_x, double* cos_x) {
  static auto* const f = libm_function<void(double, double*, double*)>("sincos");
  f(x, sin_x, cos_x);
}

}  // extern "C"
