#include "result/result.h"

namespace demodctl {

std::string_view kind_name(FaultKind kind) {
  switch (kind) {
    case FaultKind::no_connection:
      return "no connection";
    case FaultKind::nack:
      return "NACK";
    case FaultKind::bus_failure:
      return "bus failure";
    case FaultKind::open_error:
      return "open error";
    case FaultKind::timeout:
      return "timeout";
    case FaultKind::file:
      return "file";
    case FaultKind::refused:
      return "refused";
    case FaultKind::read_only:
      return "read-only";
    case FaultKind::usage:
      return "bad argument";
  }
  return "fault";
}

std::string Fault::text() const {
  std::string line(kind_name(kind));
  if (!cause.empty()) line += ": " + cause;
  return line;
}

}  // namespace demodctl
