// The one way everything below the programs says how an operation ended: a value, or the fault
// that stopped it. Shaped like std::expected (which this compiler's C++20 library lacks):
//
//   Result<uint8_t> read_field(BoardBus& bus, const Field& field);
//   if (const Result<uint8_t> value = read_field(bus, reg::lock_fec); !value) return value.error();
//
// A fault is a kind (what a program decides on: the result line, an event, an exit status) and a
// one-line cause naming what failed (address, register, status or errno) for a person to read:
// DEMODCTL_VERBOSE, the monitor's events, a register tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace demodctl {

namespace wire {
enum class Status : uint8_t;  // the register server's status codes (protocol/wire.h)
}

enum class FaultKind : uint8_t {
  no_connection,  // a transfer the register server or the bridge refused, nothing more known
  nack,           // the device did not acknowledge
  bus_failure,    // the adapter could not carry the transaction (unplugged, stuck, timed out)
  open_error,     // the bridge or the bus could not be opened
  timeout,        // a status flag did not come by the poll's deadline
  file,           // a file could not be created, read or written
  refused,        // the register server answered with an error status (named in the cause)
  read_only,      // the register server is read-only and refused a write
  usage,          // a command line, an option or a name given to a tool does not parse
};

// "no connection", "NACK", ...: the kind in words.
std::string_view kind_name(FaultKind kind);

struct Fault {
  FaultKind kind = FaultKind::no_connection;
  std::string cause;  // one line; empty when nothing more than the kind is known
  // The status a register-server request was refused with: the server's answer, or TOO_LARGE for
  // a count over the server's limit that the client would not send. None for any other fault.
  std::optional<wire::Status> server_status{};

  bool operator==(const Fault&) const = default;
  // The kind in words, then the cause: "NACK: read 0xD0 register 0x2C".
  std::string text() const;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
  Result(Fault fault) : state_(std::in_place_index<1>, std::move(fault)) {}  // NOLINT: implicit

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }
  const T& value() const { return std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  const T& operator*() const { return value(); }
  T& operator*() { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }
  const Fault& error() const { return std::get<1>(state_); }
  T value_or(T other) const { return has_value() ? value() : std::move(other); }

 private:
  std::variant<T, Fault> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Fault fault) : fault_(std::move(fault)) {}  // NOLINT: implicit

  bool has_value() const { return !fault_.has_value(); }
  explicit operator bool() const { return has_value(); }
  const Fault& error() const { return *fault_; }

  bool operator==(const Result&) const = default;

 private:
  std::optional<Fault> fault_;
};

}  // namespace demodctl
