// regserver's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "server/server.h"

namespace demodctl {

enum class BackendKind { kSim, kI2cDev };

struct RegserverOptions {
  ServerConfig server;
  BackendKind backend = BackendKind::kSim;
  std::string scenario;  // empty: the default board
  std::string trace;     // empty: no trace
};

// What parsing decided: options to run with, or an exit status with a message (help or version
// text on stdout with status 0, one error line on stderr with status 2).
struct ParsedOptions {
  std::optional<RegserverOptions> options;
  int exit_status = 0;
  std::string message;
};

constexpr int kExitUsage = 2;

// The port regserver listens on unless told otherwise (and its service's socket unit). Not in
// /etc/services nor in common use; not registered with IANA.
constexpr uint16_t kDefaultPort = 7468;

ParsedOptions parse_regserver_options(int argc, const char* const* argv);

}  // namespace demodctl
