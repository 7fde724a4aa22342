// The one connection of a run, for the transport TransportMode selects.
#pragma once

namespace demodctl {

// Argument positions of the transport's own values (0 is the program path).
inline constexpr int kSocketPositions = 5;  // host, port, channel, speed, address
inline constexpr int kUsbPositions = 2;     // speed, address

// Fills demod_device from the transport positions of argv and opens the
// connection. Socket: InitSock(host, port), seti2cspeed(channel, speed), results
// not examined. USB: USBIO_OpenDevice(0); -1 prints "err openerror,failed" with
// -1 and returns -1; else USBIO_SetStream(0, speed). Returns 0 or -1.
// The caller guarantees that argv holds the transport positions.
int open_connection(char** argv);

// Socket: DeinitSock(); USB: USBIO_CloseDevice(0).
void close_connection();

}  // namespace demodctl
