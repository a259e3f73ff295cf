#include "support/mount.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr int mount_timeout_ms = 30000;  // sanitizer builds start slowly
constexpr int unmount_timeout_ms = 10000;
constexpr int exit_timeout_ms = 10000;

int status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

// Polls waitpid until the child ends or the time is up.
bool wait_for(pid_t pid, int timeout_ms, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    int wait_status = 0;
    const pid_t done = waitpid(pid, &wait_status, WNOHANG);
    if (done == pid) {
      status = status_of(wait_status);
      return true;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void kill_and_reap(pid_t pid, int& status) {
  kill(pid, SIGKILL);
  int wait_status = 0;
  if (waitpid(pid, &wait_status, 0) == pid) status = status_of(wait_status);
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& output_path) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int in = open("/dev/null", O_RDONLY);
  const int out = output_path.empty()
                      ? open("/dev/null", O_WRONLY)
                      : open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(out, STDERR_FILENO);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string temp_path(const char* pattern_text, bool directory) {
  std::string pattern = pattern_text;
  if (directory) return mkdtemp(pattern.data()) ? pattern : "";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return "";
  close(fd);
  return pattern;
}

}  // namespace

int run_command(const std::vector<std::string>& argv, int timeout_ms, std::string* output) {
  const std::string output_path = output ? temp_path("/tmp/olvex-cmd-XXXXXX", false) : "";
  const pid_t pid = spawn(argv, output_path);
  if (pid < 0) return -1;
  int status = -1;
  if (!wait_for(pid, timeout_ms, status)) {
    kill_and_reap(pid, status);
    status = -1;
  }
  if (output) {
    *output = read_text(output_path);
    unlink(output_path.c_str());
  }
  return status;
}

bool is_mounted(const std::string& path) {
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    fields >> id >> parent >> device >> root >> point;
    if (point == path) return true;
  }
  return false;
}

bool Mount::fuse_available() {
  return access("/dev/fuse", R_OK | W_OK) == 0;
}

Mount::Mount(const std::string& source, const std::vector<std::string>& options) {
  point_ = temp_path("/tmp/olvex-mnt-XXXXXX", true);
  output_path_ = temp_path("/tmp/olvex-out-XXXXXX", false);
  if (point_.empty() || output_path_.empty() || !fuse_available()) return;

  std::vector<std::string> argv = {OLVEX_BINARY, "-f"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(source);
  argv.push_back(point_);
  pid_ = spawn(argv, output_path_);
  if (pid_ > 0) live_ = wait_until_live();
}

bool Mount::wait_until_live() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(mount_timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (is_mounted(point_)) return true;
    if (reap(0)) return false;  // the process ended without mounting
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// True once the process has ended (and its status is recorded).
bool Mount::reap(int timeout_ms) {
  if (pid_ <= 0) return true;
  if (!wait_for(pid_, timeout_ms, exit_status_)) return false;
  pid_ = -1;
  return true;
}

int Mount::unmount() {
  if (is_mounted(point_)) {
    if (run_command({"fusermount", "-u", point_}, unmount_timeout_ms) != 0) {
      run_command({"fusermount", "-uz", point_}, unmount_timeout_ms);
    }
  }
  live_ = false;
  if (!reap(exit_timeout_ms) && pid_ > 0) {
    kill_and_reap(pid_, exit_status_);
    pid_ = -1;
  }
  // A killed daemon leaves its mount behind as a dead end; detach it.
  if (is_mounted(point_)) run_command({"fusermount", "-uz", point_}, unmount_timeout_ms);
  return exit_status_;
}

std::string Mount::output() const {
  return read_text(output_path_);
}

Mount::~Mount() {
  // A test that did not unmount itself still learns how the process ended: a
  // sanitizer's leak report or a crash at exit shows only in the exit status.
  if (pid_ > 0) {
    const int status = unmount();
    if (status != 0) ADD_FAILURE() << "olvex exited with status " << status << ":\n" << output();
  }
  unmount();
  if (!point_.empty()) rmdir(point_.c_str());
  if (!output_path_.empty()) unlink(output_path_.c_str());
}

int read_all(const std::string& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      const int error = errno;
      close(fd);
      return error;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  close(fd);
  return 0;
}
