// Running the real binaries from black-box tests: a bounded child process with
// captured output, and a regserver on a free loopback port.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace demodctl::testing {

struct ProcResult {
  int status = -1;  // exit status 0..255, or 128+signal
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
  bool timed_out = false;
};

// Runs argv[0] with the extra environment entries ("NAME=value") in cwd (empty:
// the current directory); the child is killed after timeout_ms.
ProcResult run_process(const std::vector<std::string>& argv,
                       const std::vector<std::string>& env = {}, int timeout_ms = 20000,
                       const std::string& cwd = "");

ProcResult demodctl(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                    const std::string& cwd = "");

// A program left running while the test watches its standard output (standard error goes to
// a file in a directory of its own, removed with it); killed when destroyed.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                    const std::string& cwd = "");
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // Reads standard output until it holds `text` after what it held at `from` (bounded by
  // timeout_ms); false when it did not come.
  bool wait_for(const std::string& text, size_t from = 0, int timeout_ms = 20000);
  const std::string& out() const { return out_; }
  std::string err() const;  // what it wrote on standard error so far
  // Sends `sig`, reads the rest of the output and waits for the exit (SIGKILL after 5 s).
  int stop(int sig);
  // Reads the rest of the output and waits for the exit, SIGKILL after bound_ms (*killed set).
  int finish(int bound_ms, bool* killed = nullptr);

 private:
  TempDir err_dir_;
  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string out_;
};

// A regserver started with `--port 0` (unless the options name a port) and the given options,
// once it said where it listens (out(): those lines); stopped (SIGTERM) when destroyed.
class ServerProcess : public BackgroundProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& options = {});
  ~ServerProcess() { stop(); }

  bool ready() const { return port_ > 0; }
  int port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }
  int stop();  // SIGTERM and wait; the exit status (or 128+signal)

 private:
  int port_ = 0;
};

// A TCP socket on a free loopback port (its number in *port), listening when backlog > 0: the
// kernel completes the handshake, nobody reads.
int loopback_socket(int backlog, std::string* port);
// A connection to 127.0.0.1:port (-1 when refused); a non-zero `receive_buffer` fixes its
// receive buffer at that size before the handshake (no autotuning).
int connect_loopback(int port, int receive_buffer = 0);
// A connection to 127.0.0.1:port from another loopback address (127.0.0.2, say: a second peer).
int connect_loopback_from(const std::string& source, int port);

// True once `done` holds, asked every 10 ms until a bound that a loaded machine meets easily.
bool eventually(const std::function<bool()>& done);

std::string write_file(const std::string& dir, const std::string& name, const std::string& text);
std::string read_file(const std::string& path);

}  // namespace demodctl::testing
