// scan: which addresses answer on the board's channel, or behind the demodulator's repeater, in
// i2cdetect's grid of 8-bit address bytes (write addresses, so only the even columns).
#include <array>
#include <cstdio>

#include "regtool/commands.h"
#include "tuner/tuner_bus.h"

namespace demodctl::regtool {
namespace {

// The address bytes probed: i2cdetect's 7-bit range 0x08..0x77, shifted up by one. Below and above
// it lie the bus's reserved addresses (general call, CBUS, high-speed and 10-bit prefixes).
constexpr int kFirstProbed = 0x10;
constexpr int kLastProbed = 0xEE;
constexpr int kRowLength = 16;
constexpr int kAddressSpace = 256;
constexpr int kColumnStep = 2;  // address bytes of one device are even (the R/W bit clear)

}  // namespace

int run_scan(const Request& r, const RegisterSpace& space, BoardConnection& conn) {
  std::string text = "     0  2  4  6  8  a  c  e\n";
  for (int row = 0; row < kAddressSpace; row += kRowLength) {
    std::array<char, 8> cell{};
    std::snprintf(cell.data(), cell.size(), "%02x:", row);
    text += cell.data();
    for (int address = row; address < row + kRowLength; address += kColumnStep) {
      if (address < kFirstProbed || address > kLastProbed) {
        text += "   ";
        continue;
      }
      if (r.scan_tuner && !space.tuner_direct) {
        if (auto open = open_gate(space.bus); !open) return board_fault(open.error());
      }
      if (conn.probe(address)) {
        std::snprintf(cell.data(), cell.size(), " %02x", address);
        text += cell.data();
      } else {
        text += " --";
      }
    }
    text += "\n";
  }
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

}  // namespace demodctl::regtool
