// A child program with its standard output and error read through pipes,
// read line by line while it runs or whole once it has ended.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace k27ctl_test {

constexpr int kWaitMs = 30000;

class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::vector<std::string>& extraEnvironment = {}) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      const int null = ::open("/dev/null", O_RDONLY);
      if (null >= 0) ::dup2(null, 0);
      ::execve(words[0].c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line of standard output, or nothing when the output ended or
  // `ms` passed first.
  std::optional<std::string> ReadLine(int ms = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const std::size_t newline = out_text_.find('\n', taken_);
      if (newline != std::string::npos) {
        std::string line = out_text_.substr(taken_, newline - taken_);
        taken_ = newline + 1;
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Pump(static_cast<int>(left.count()))) return std::nullopt;
    }
  }

  // Waits for the end; the exit status, or -1000 - signal.
  int Wait(int ms = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (outOpen_ || errOpen_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      Pump(static_cast<int>(left.count()));
    }
    int status = 0;
    if (::waitpid(pid_, &status, outOpen_ || errOpen_ ? WNOHANG : 0) != pid_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
  }

  void Signal(int signal) { ::kill(pid_, signal); }
  // All standard output not yet taken by ReadLine.
  std::string Stdout() const { return out_text_.substr(taken_); }
  const std::string& Stderr() const { return err_text_; }

 private:
  // Reads what is there on either pipe; false when both have ended.
  bool Pump(int ms) {
    if (!outOpen_ && !errOpen_) return false;
    pollfd fds[2] = {{outOpen_ ? out_ : -1, POLLIN, 0}, {errOpen_ ? err_ : -1, POLLIN, 0}};
    if (::poll(fds, 2, ms) <= 0) return true;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0)
        (i == 0 ? outOpen_ : errOpen_) = false;
      else
        (i == 0 ? out_text_ : err_text_).append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool outOpen_ = true, errOpen_ = true;
  std::string out_text_, err_text_;
  std::size_t taken_ = 0;
};

}  // namespace k27ctl_test
