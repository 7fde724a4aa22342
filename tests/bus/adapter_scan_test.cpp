// USB adapter discovery over fake sysfs trees laid out like the kernel's.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bus/i2c_dev_bus.h"
#include "support/process.h"

namespace demodctl {
namespace {

namespace fs = std::filesystem;

// Device-tree parents of adapters as sysfs shows them; nullptr: a dangling class link.
constexpr const char* kSmbus = "pci0000:00/0000:00:1f.4";
constexpr const char* kGpu = "pci0000:00/0000:00:02.0/drm/card0/card0-DP-1";
constexpr const char* kUsbLookalike = "virtual/usbmon/usb-ish";  // no usb<digits> bus
constexpr const char* kUsbA = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
constexpr const char* kUsbB = "pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4:1.0";

struct ScanCase {
  const char* name;
  std::vector<std::pair<int, const char*>> adapters;  // i2c-N below <root>/devices/<parent>
  std::optional<std::string> expected;
};

// <root>/devices/<parent>/i2c-N/i2c-dev/i2c-N, linked from <root>/class/i2c-dev/i2c-N.
void add_adapter(const fs::path& root, int number, const char* parent) {
  const std::string name = "i2c-" + std::to_string(number);
  const fs::path chardev =
      fs::path("devices") / (parent ? parent : "gone") / name / "i2c-dev" / name;
  if (parent != nullptr) {
    fs::create_directories(root / chardev);
    fs::create_directory_symlink("../..", root / chardev / "device");
  }
  fs::create_directories(root / "class" / "i2c-dev");
  fs::create_directory_symlink("../.." / chardev, root / "class" / "i2c-dev" / name);
}

TEST(AdapterScan, FindsTheLowestUsbAdapter) {
  const ScanCase cases[] = {
      {"None", {}, std::nullopt},
      {"OnlyNonUsb", {{0, kSmbus}, {1, kGpu}, {3, kUsbLookalike}}, std::nullopt},
      // Numeric, not lexical: "i2c-10" sorts before "i2c-9" as text.
      {"LowestNumberWins", {{10, kUsbA}, {9, kUsbB}, {0, kSmbus}}, "/dev/i2c-9"},
      {"BrokenLinkSkipped", {{2, nullptr}, {12, kUsbA}}, "/dev/i2c-12"}};
  for (const ScanCase& c : cases) {
    const fs::path root = demodctl::testing::make_temp_dir();
    for (const auto& [number, parent] : c.adapters) add_adapter(root, number, parent);
    EXPECT_EQ(find_usb_i2c_adapter(root.string()), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace demodctl
