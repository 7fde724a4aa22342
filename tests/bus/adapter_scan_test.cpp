// USB adapter discovery over fake sysfs trees laid out like the kernel's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bus/i2c_dev_bus.h"
#include "bus_test_support.h"

namespace demodctl {
namespace {

namespace fs = std::filesystem;

// Device-tree parents of adapters as sysfs shows them.
constexpr const char* kSmbusParent = "pci0000:00/0000:00:1f.4";
constexpr const char* kGpuParent = "pci0000:00/0000:00:02.0/drm/card0/card0-DP-1";
constexpr const char* kUsbParentA = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
constexpr const char* kUsbParentB = "pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4:1.0";
// A USB device under a virtual host with no usbN-named component: found by its idVendor.
constexpr const char* kVhciDevice = "platform/vhci_hcd.0/bus-x/5-1";
constexpr const char* kVhciParent = "platform/vhci_hcd.0/bus-x/5-1/5-1:1.0";
// Looks like "usb" but is no USB bus.
constexpr const char* kUsbLookalikeParent = "virtual/usbmon/usb-ish";

enum class Layout { kClass, kLegacyBus, kBrokenClassLink };

struct Adapter {
  int number;
  const char* parent;  // below <root>/devices
  Layout layout = Layout::kClass;
};

struct ScanCase {
  const char* name;
  std::vector<Adapter> adapters;
  std::vector<const char*> id_vendor_dirs;  // below <root>/devices
  std::optional<std::string> expected;
};

// Builds <root>/devices/<parent>/i2c-N with its i2c-dev child, and the
// class/i2c-dev (or bus/i2c/devices) entry the kernel links to it.
void add_adapter(const fs::path& root, const Adapter& a) {
  const std::string name = "i2c-" + std::to_string(a.number);
  const fs::path rel_adapter = fs::path("devices") / a.parent / name;
  const fs::path chardev = root / rel_adapter / "i2c-dev" / name;
  fs::create_directories(chardev);
  fs::create_directory_symlink("../..", chardev / "device");
  switch (a.layout) {
    case Layout::kClass:
      fs::create_directories(root / "class" / "i2c-dev");
      fs::create_directory_symlink(fs::path("../..") / rel_adapter / "i2c-dev" / name,
                                   root / "class" / "i2c-dev" / name);
      break;
    case Layout::kLegacyBus:
      fs::create_directories(root / "bus" / "i2c" / "devices");
      fs::create_directory_symlink(fs::path("../../..") / rel_adapter,
                                   root / "bus" / "i2c" / "devices" / name);
      // A client device next to the adapter is no adapter.
      fs::create_directory(root / rel_adapter / (std::to_string(a.number) + "-0050"));
      fs::create_directory_symlink(
          fs::path("../../..") / rel_adapter / (std::to_string(a.number) + "-0050"),
          root / "bus" / "i2c" / "devices" / (std::to_string(a.number) + "-0050"));
      break;
    case Layout::kBrokenClassLink:
      fs::create_directories(root / "class" / "i2c-dev");
      fs::create_directory_symlink("../../devices/gone/" + name, root / "class" / "i2c-dev" / name);
      break;
  }
}

class AdapterScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(AdapterScan, FindsTheLowestUsbAdapter) {
  const ScanCase& c = GetParam();
  testing_support::TempDir root;
  ASSERT_FALSE(root.path().empty());
  for (const Adapter& a : c.adapters) add_adapter(root.path(), a);
  for (const char* dir : c.id_vendor_dirs) {
    fs::create_directories(root.path() / "devices" / dir);
    std::ofstream(root.path() / "devices" / dir / "idVendor") << "1a86\n";
  }
  EXPECT_EQ(find_usb_i2c_adapter(root.path().string()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, AdapterScan,
    ::testing::Values(
        ScanCase{"NoAdapters", {}, {}, std::nullopt},
        ScanCase{"OnlyNonUsbAdapters", {{0, kSmbusParent}, {1, kGpuParent}}, {}, std::nullopt},
        ScanCase{"UsbAmongOthers",
                 {{0, kSmbusParent}, {7, kUsbParentA}, {1, kGpuParent}},
                 {},
                 "/dev/i2c-7"},
        // Numeric, not lexical: "i2c-10" sorts before "i2c-9" as text.
        ScanCase{"LowestNumberWins",
                 {{10, kUsbParentA}, {9, kUsbParentB}, {0, kSmbusParent}},
                 {},
                 "/dev/i2c-9"},
        ScanCase{"BrokenLinkSkipped",
                 {{2, "", Layout::kBrokenClassLink}, {12, kUsbParentA}},
                 {},
                 "/dev/i2c-12"},
        ScanCase{"OnlyBrokenLinks", {{2, "", Layout::kBrokenClassLink}}, {}, std::nullopt},
        ScanCase{"UsbDeviceFoundByIdVendor", {{4, kVhciParent}}, {kVhciDevice}, "/dev/i2c-4"},
        ScanCase{"UsbLookalikeNameIsNotUsb", {{3, kUsbLookalikeParent}}, {}, std::nullopt},
        ScanCase{"LegacyBusLayout",
                 {{0, kSmbusParent, Layout::kLegacyBus}, {5, kUsbParentB, Layout::kLegacyBus}},
                 {},
                 "/dev/i2c-5"}),
    testing_support::CaseName());

TEST(AdapterScan, MissingSysfsRootFindsNothing) {
  EXPECT_EQ(find_usb_i2c_adapter("/nonexistent/sysfs"), std::nullopt);
}

}  // namespace
}  // namespace demodctl
