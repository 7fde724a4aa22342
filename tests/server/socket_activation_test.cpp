// regserver started the way a service manager starts it: a listening socket on descriptor 3,
// LISTEN_FDS and LISTEN_PID naming the count and the process meant to take it. systemd's own
// launcher hands the socket over and execs, on the first connection, a shell that spoils one
// thing and execs regserver in the same process (so LISTEN_PID still names it).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <tuple>

#include "server/frames.h"
#include "support/process.h"

namespace demodctl {
namespace {

constexpr const char* kActivate = "/usr/bin/systemd-socket-activate";
// $0 the port, $1 the spoiling shell words, $2 regserver; the launcher's log goes to standard
// output too, so its "Listening on" line tells when to connect.
constexpr const char* kLaunch = R"(exec 2>&1; exec /usr/bin/systemd-socket-activate )"
                                R"(-l "127.0.0.1:$0" /bin/sh -c "$1"' exec "$0" --sim --quiet)"
                                R"( --port 0' "$2")";

TEST(SocketActivation, ServedOnTheHandedOverSocketOrRefused) {
  if (access(kActivate, X_OK) != 0) GTEST_SKIP() << kActivate << " is not installed";
  const std::tuple<const char*, bool, const char*> cases[] = {
      // spoiling shell words, served on the handed-over socket, the line of a refused start
      {"", true, ""},
      {"LISTEN_PID=1", false, ""},  // another process's variables: --port 0 as usual
      {"LISTEN_FDS=0", false, "regserver: LISTEN_FDS is '0', expected 1..16\n"},
      {"LISTEN_FDS=1x", false, "regserver: LISTEN_FDS is '1x', expected 1..16\n"},
      {"LISTEN_FDS=2", false,
       "regserver: handed-over descriptor 4 is not a listening TCP socket\n"},
      {"exec 3</dev/null;", false,
       "regserver: handed-over descriptor 3 is not a listening TCP socket\n"},
  };
  for (const auto& [spoil, served, refusal] : cases) {
    SCOPED_TRACE(spoil);
    std::string port;
    ::close(testing::loopback_socket(0, &port));  // a port free again
    const std::string handed = "listening on 127.0.0.1:" + port + "\n";
    testing::BackgroundProcess launcher({"/bin/sh", "-c", kLaunch, port, spoil, REGSERVER_BIN});
    ASSERT_TRUE(launcher.wait_for("Listening on 127.0.0.1:")) << launcher.out();
    const size_t exec_at = launcher.out().size();
    const test::Raw first(std::stoi(port));  // the launcher execs on the first connection
    // Up (its signal handling in place) or refused, before the SIGTERM below.
    ASSERT_TRUE(launcher.wait_for(*refusal == '\0' ? "listening on" : refusal, exec_at));
    if (served) {
      EXPECT_EQ(testing::demodctl({"127.0.0.1", port, "0", "100", "208", "on_line", "1"}).out,
                "error=ok,return=1");
    }
    // A refused start ends by itself (signal 0 only waits for it); a server is stopped.
    EXPECT_EQ(launcher.stop(*refusal == '\0' ? SIGTERM : 0), *refusal == '\0' ? 0 : 1);
    const std::string& all = launcher.out();
    const std::string own = all.substr(all.find('\n', all.find("Execing", exec_at)) + 1);
    if (*refusal == '\0') {
      EXPECT_EQ(own == handed, served) << own;
      EXPECT_EQ(own.rfind("listening on 127.0.0.1:", 0), 0U) << own;
    } else {
      EXPECT_EQ(own, refusal);
    }
  }
}

}  // namespace
}  // namespace demodctl
