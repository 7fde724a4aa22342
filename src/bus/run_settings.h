// What a program's run is told from outside: the register-server client's reply timeout, where
// the bus trace goes, whether a failure is named on standard error, and the bus the USB bridge
// runs on. Each program's main builds them once (from its environment, its options) and hands
// them down; nothing below the programs reads the environment.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace demodctl {

// The environment variables a program reads its settings from.
inline constexpr const char* kNetTimeoutEnvVar = "DEMODCTL_NET_TIMEOUT_MS";
inline constexpr const char* kBusTraceEnvVar = "DEMODCTL_TRACE";
inline constexpr const char* kI2cTraceEnvVar = "DEMODCTL_I2C_TRACE";  // older name, still read
inline constexpr const char* kVerboseEnvVar = "DEMODCTL_VERBOSE";
inline constexpr const char* kBusEnvVar = "DEMODCTL_I2C_BUS";

inline constexpr std::chrono::milliseconds kDefaultNetTimeout{3000};

struct RunSettings {
  // How long the register-server client waits for each reply.
  std::chrono::milliseconds reply_timeout = kDefaultNetTimeout;
  bool reply_timeout_given = false;  // the environment named one (demodmon keeps it then)
  std::string trace_path;            // the bus trace; empty: none
  bool verbose = false;              // name why a run failed on standard error
  std::string bridge_bus;            // the USB bridge's bus as DEMODCTL_I2C_BUS names it
};

// A variable's value, or nullptr when unset: the program passes std::getenv.
using EnvLookup = std::function<const char*(const char* name)>;

// The settings the variables above give: the timeout when it holds a positive number of
// milliseconds (else the default), DEMODCTL_TRACE or else DEMODCTL_I2C_TRACE when non-empty,
// DEMODCTL_VERBOSE when non-empty, DEMODCTL_I2C_BUS as it is.
RunSettings run_settings_from(const EnvLookup& lookup);

}  // namespace demodctl
