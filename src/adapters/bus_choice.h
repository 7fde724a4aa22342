// Which I2C bus the USB bridge runs on, chosen by DEMODCTL_I2C_BUS where the program is put
// together (the bus layer knows neither the simulator nor a particular adapter). The values name
// adapters as i2c-tools does:
//   unset or empty  the first USB I2C adapter found in sysfs
//   "sim"           the in-process simulated board with its default scenario
//   "sim:FILE"      the simulated board built from scenario FILE
//   a path ("/")    that i2c-dev node, e.g. "/dev/i2c-7"
//   "N", "i2c-N"    adapter N, that is /dev/i2c-N (N: decimal, at most six digits)
//   anything else   the one adapter with that name, as `i2cdetect -l` shows it
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bus/run_settings.h"  // kBusEnvVar, the variable the choice is read from
#include "i2c/i2c_bus.h"
#include "result/result.h"

namespace demodctl {

inline constexpr const char* kSysfsRoot = "/sys";  // where the kernel lists the adapters

struct BusChoice {
  enum class Kind {
    kAutoDetect,
    kSimDefault,
    kSimScenario,
    kDeviceNode,
    kAdapterName,
    kBadNumber,  // digits, but too many for an adapter number
  };
  Kind kind = Kind::kAutoDetect;
  std::string target;  // scenario file, device node, adapter name or the bad number; else empty

  bool operator==(const BusChoice&) const = default;
};

// `value` is the variable's text, nullptr when it is not set.
BusChoice parse_bus_choice(const char* value);

// The i2c-dev node an adapter choice (auto-detection, a node, a name, a number) comes to once
// names are looked up among the adapters under sysfs_root; FaultKind::open_error (the cause in
// one line) when no adapter, or more than one, answers to it. No node for the simulated board.
Result<std::optional<std::string>> chosen_node(const BusChoice& choice,
                                               const std::string& sysfs_root);

// Opens the chosen bus; FaultKind::open_error (why, in one line) when it cannot be had.
// sysfs_root is where adapters are looked for ("/sys" except in tests).
Result<std::unique_ptr<I2cBus>> open_chosen_bus(const BusChoice& choice,
                                                const std::string& sysfs_root);

// `demodctl --list-buses`: one line per adapter, by number, fields apart by tabs:
//   i2c-N <TAB> name <TAB> vvvv:pppp [<TAB> *]
// the USB vendor:product of the device the adapter hangs off ("-" for none, as for a name that
// cannot be read), and "*" on the adapter a run would take with DEMODCTL_I2C_BUS as `bus_value`
// says. FaultKind::open_error when there are no adapters at all.
struct BusListing {
  std::string lines;
  // The node marked, or the fault of a value that names none (told beside the lines).
  Result<std::optional<std::string>> chosen;
};
Result<BusListing> bus_list(const std::string& sysfs_root, const char* bus_value);

}  // namespace demodctl
