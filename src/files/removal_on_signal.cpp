#include "files/removal_on_signal.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace demodctl {
namespace {

constexpr std::array<int, 5> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};
constexpr std::size_t kMaxGuardedName = 256;

// Read by the handler: only a fixed buffer, set and cleared while the signals are blocked.
char guarded_name[kMaxGuardedName] = {};
std::array<struct sigaction, kEndingSignals.size()> earlier{};
std::array<bool, kEndingSignals.size()> installed{};

sigset_t ending_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kEndingSignals) sigaddset(&set, sig);
  return set;
}

// Async-signal-safe: unlink, sigaction and raise only. The signal stays blocked while the handler
// runs, so the raised one is delivered, with the default action, as the handler returns.
extern "C" void remove_and_end(int sig) {
  if (guarded_name[0] != '\0') ::unlink(guarded_name);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(sig, &fallback, nullptr);
  ::raise(sig);
}

}  // namespace

SignalHold::SignalHold() {
  const sigset_t set = ending_set();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

SignalHold::~SignalHold() {
  const sigset_t set = ending_set();
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

bool guard_file_on_signal(const char* name) {
  if (guarded_name[0] != '\0' || std::strlen(name) >= kMaxGuardedName) return false;
  std::strcpy(guarded_name, name);
  struct sigaction action {};
  action.sa_handler = remove_and_end;
  action.sa_mask = ending_set();  // one removal at a time
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    installed[i] = false;
    if (::sigaction(kEndingSignals[i], nullptr, &earlier[i]) != 0) continue;
    if (earlier[i].sa_handler == SIG_IGN) continue;  // it would not end the process
    installed[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
  }
  return true;
}

void drop_signal_guard() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (installed[i]) ::sigaction(kEndingSignals[i], &earlier[i], nullptr);
    installed[i] = false;
  }
  guarded_name[0] = '\0';
}

}  // namespace demodctl
