#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

// A program started for a test with posix_spawn, in the test's environment.
// Its standard output and error go where the test's go unless redirected to
// files. Killed and reaped when the object goes while it still runs, so that
// a failing test leaves no process behind.
class ChildProcess {
 public:
  struct Options {
    // Created or truncated; none keeps the test's own.
    std::optional<std::filesystem::path> stdoutFile;
    std::optional<std::filesystem::path> stderrFile;
  };

  // Throws std::system_error when the program cannot be started.
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const Options& options = {}) {
    posix_spawn_file_actions_t actions;
    Check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    const auto destroy = [&] { posix_spawn_file_actions_destroy(&actions); };
    try {
      if (options.stdoutFile) Redirect(actions, STDOUT_FILENO, *options.stdoutFile);
      if (options.stderrFile) Redirect(actions, STDERR_FILENO, *options.stderrFile);
      // Nothing else of the test's: a pipe's write end held by a child would
      // keep another child's input from ever ending.
      Check(posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1),
            "posix_spawn_file_actions_addclosefrom_np");
      std::vector<std::string> argv{program.string()};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      std::vector<char*> pointers;
      for (std::string& argument : argv) pointers.push_back(argument.data());
      pointers.push_back(nullptr);
      Check(posix_spawn(&m_pid, program.c_str(), &actions, nullptr, pointers.data(), environ),
            "posix_spawn " + program.string());
    } catch (...) {
      destroy();
      throw;
    }
    destroy();
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  ~ChildProcess() {
    if (!m_exitCode) {
      ::kill(m_pid, SIGKILL);
      Reap(0);
    }
  }

  pid_t Pid() const { return m_pid; }

  // Asks the program to stop.
  void Terminate() { Signal(SIGTERM); }
  void Signal(int signal) {
    if (!m_exitCode) ::kill(m_pid, signal);
  }

  // Whether the program still runs (it is reaped when it has ended).
  bool Running() { return !m_exitCode && !Reap(WNOHANG); }

  // Waits for the program to end and returns its exit code; 128 + the signal
  // when a signal ended it, as shells report it.
  int Wait() {
    if (!m_exitCode) Reap(0);
    return *m_exitCode;
  }

  // As Wait, but gives up after `timeout`; none when the program still runs.
  std::optional<int> WaitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_exitCode;
  }

 private:
  static void Check(int result, const std::string& what) {
    if (result != 0) throw std::system_error(result, std::generic_category(), what);
  }

  static void Redirect(posix_spawn_file_actions_t& actions, int fd, const std::filesystem::path& file) {
    Check(posix_spawn_file_actions_addopen(&actions, fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
          "posix_spawn_file_actions_addopen " + file.string());
  }

  // True when the program has ended (and its exit code is known).
  bool Reap(int flags) {
    int status = 0;
    pid_t reaped;
    do {
      reaped = ::waitpid(m_pid, &status, flags);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0) return false;
    if (reaped < 0) {
      // Reaped elsewhere or never a child of ours: nothing left to wait for.
      m_exitCode = -1;
      return true;
    }
    m_exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return true;
  }

  pid_t m_pid = -1;
  std::optional<int> m_exitCode;
};
