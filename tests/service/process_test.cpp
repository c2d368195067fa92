// The stampd executable as an operator runs it: start-up failures give one line on stderr and
// a non-zero exit; odd files in a font folder never block start-up; running out of file
// descriptors pauses accepting without spinning.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path scratch(const std::string& name) {
  fs::path dir = fs::temp_directory_path() / ("stampd-process-" + std::to_string(getpid()) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A stampd child with stderr in a file; open files limited to `maxFiles` (soft and hard) if set.
struct Stampd {
  // `stderrFd` (when given) replaces the file as stderr; `maxFileBytes` limits file sizes
  // (RLIMIT_FSIZE, as `ulimit -f`).
  Stampd(std::vector<std::string> args, const fs::path& errFile, rlim_t maxFiles = 0, int stderrFd = -1,
         rlim_t maxFileBytes = 0)
      : err(errFile) {
    // STAMPD_BINARY in the environment runs the tests against another build (an older one).
    const char* binary = std::getenv("STAMPD_BINARY");
    args.insert(args.begin(), binary && *binary ? binary : STAMPD_BINARY);
    pid = fork();
    if (pid == 0) {
      int fd = stderrFd >= 0 ? stderrFd : open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 2);
      if (maxFileBytes) {
        rlimit rl{maxFileBytes, maxFileBytes};
        setrlimit(RLIMIT_FSIZE, &rl);
      }
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      if (maxFiles) {
        rlimit rl{maxFiles, maxFiles};
        setrlimit(RLIMIT_NOFILE, &rl);
      }
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Stampd() {
    if (pid > 0 && !exited) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  // Exit status, or -1 if still running after `seconds`.
  int wait(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  // The port from the "listening on" line; 0 if it did not come within `seconds`.
  unsigned short port(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      std::string text = readFile(err);
      size_t at = text.find("listening on http://127.0.0.1:");
      if (at != std::string::npos) return static_cast<unsigned short>(std::atoi(text.c_str() + at + 30));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
  }
  // CPU seconds the process has used (user + system).
  double cpuSeconds() const {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
  }
  fs::path err;
  pid_t pid = -1;
  bool exited = false;
};

int connectTo(unsigned short port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

// Sends GET /healthz on `fd` and returns the first bytes of the answer.
std::string healthz(int fd) {
  const char req[] = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
  if (write(fd, req, sizeof req - 1) != static_cast<ssize_t>(sizeof req - 1)) return {};
  char buf[512];
  ssize_t n = read(fd, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

int lineCount(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST(Process, StartUpFailuresGiveOneLineAndAnExitCode) {
  fs::path dir = scratch("fail");
  fs::create_directories(dir / "empty");
  std::ofstream(dir / "not-a-folder") << "x";
  // A port that is taken.
  int taken = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(taken, 1), 0);
  socklen_t len = sizeof a;
  getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len);
  std::string takenAddress = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));

  const std::string missing = (dir / "missing").string();
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string message;
  } cases[] = {
      {{"--cache-mb", "lots"}, 2, "bad value for --cache-mb: 'lots'"},
      {{"--cache-mb", "0"}, 2, "bad value for --cache-mb: '0'"},
      {{"--threads", "-3"}, 2, "bad value for --threads"},
      {{"--timeout-ms", "99999999999999999999"}, 2, "bad value for --timeout-ms"},
      {{"--listen", "localhost"}, 2, "bad value for --listen: 'localhost'"},
      {{"--listen", "127.0.0.1:70000"}, 2, "bad value for --listen"},
      {{"--no-access-log", "--cache-mb"}, 2, "--cache-mb needs a value"},
      {{"--colour"}, 2, "unknown option --colour"},
      {{"stray"}, 2, "unknown option stray"},
      {{"--list", "127.0.0.1:0"}, 2, "unknown option --list"},  // no guessing at abbreviations
      {{"--trusted-proxy", "10.0.0.0/33"}, 2, "bad value for --trusted-proxy: '10.0.0.0/33'"},
      {{"--trusted-proxy", "127.0.0.1,proxy.example"}, 2, "bad value for --trusted-proxy: 'proxy.example'"},
      {{"--listen", "127.0.0.1:0", "--fonts", missing}, 1, "cannot read font folder " + missing},
      {{"--listen", "127.0.0.1:0", "--fonts", (dir / "not-a-folder").string()}, 1, "cannot read font folder"},
      {{"--listen", "127.0.0.1:0", "--no-system-fonts", "--fonts", (dir / "empty").string()}, 1, "no usable CJK font"},
      {{"--listen", takenAddress}, 1, "cannot listen on " + takenAddress + ": Address already in use"},
      {{"--listen", "127.0.0.1:0", "--access-log", missing + "/access.log"}, 1, "cannot open access log"},
  };
  for (const Case& c : cases) {
    Stampd p(c.args, dir / "err.txt");
    EXPECT_EQ(p.wait(30), c.exit) << c.args.back();
    std::string err = readFile(dir / "err.txt");
    EXPECT_NE(err.find("stampd: " + c.message), std::string::npos) << err;
    EXPECT_EQ(lineCount(err), 1) << err;
  }
  close(taken);
  fs::remove_all(dir);
}

// A FIFO named like a font would block open() and read() for ever; devices and folders named
// like fonts, and files that are no fonts, are skipped too, each with one line saying why.
TEST(Process, OddFilesInFontFolderAreSkippedWithoutBlocking) {
  fs::path dir = scratch("fonts");
  ASSERT_EQ(mkfifo((dir / "a-fifo.ttf").c_str(), 0644), 0);
  fs::create_directories(dir / "a-folder.otf");
  std::ofstream(dir / "not-a-font.ttc") << "hello";
  fs::create_symlink("/dev/zero", dir / "device.ttf");
  Stampd p({"--fonts", dir.string(), "--listen", "127.0.0.1:0", "--no-access-log"}, dir / "err.log");
  EXPECT_NE(p.port(20), 0) << readFile(dir / "err.log");
  std::string err = readFile(dir / "err.log");
  EXPECT_NE(err.find("skipped font file " + (dir / "a-fifo.ttf").string() + ": not a regular file"), std::string::npos)
      << err;
  EXPECT_NE(err.find("skipped font file " + (dir / "device.ttf").string() + ": not a regular file"), std::string::npos)
      << err;
  EXPECT_NE(err.find("skipped font file " + (dir / "not-a-font.ttc").string() + ": not a font"), std::string::npos)
      << err;
  EXPECT_NE(err.find("skipped font file " + (dir / "a-folder.otf").string() + ": not a regular file"),
            std::string::npos)
      << err;
  kill(p.pid, SIGTERM);
  EXPECT_EQ(p.wait(10), 0);
  fs::remove_all(dir);
}

// With every descriptor in use, the accept loop pauses instead of retrying at once; the
// connections it has are still answered, the shortage is logged once, and accepting resumes
// when descriptors free up.
TEST(Process, OutOfDescriptorsPausesAcceptingWithoutSpinning) {
  fs::path dir = scratch("emfile");
  Stampd p({"--listen", "127.0.0.1:0", "--no-access-log", "--threads", "2"}, dir / "err.log", 64);
  unsigned short port = p.port(20);
  ASSERT_NE(port, 0) << readFile(dir / "err.log");
  int first = connectTo(port);
  ASSERT_GE(first, 0);
  EXPECT_EQ(healthz(first).rfind("HTTP/1.1 200", 0), 0u);
  std::vector<int> extra;
  for (int i = 0; i < 100; ++i) extra.push_back(connectTo(port));  // the backlog takes those not accepted
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  double before = p.cpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  double used = p.cpuSeconds() - before;
  EXPECT_LT(used, 0.2) << "CPU seconds in one idle second at the descriptor limit";
  EXPECT_EQ(healthz(first).rfind("HTTP/1.1 200", 0), 0u) << "an open connection must still be served";
  for (int fd : extra)
    if (fd >= 0) close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int later = connectTo(port);
  ASSERT_GE(later, 0);
  EXPECT_EQ(healthz(later).rfind("HTTP/1.1 200", 0), 0u) << "accepting resumes";
  close(later);
  close(first);
  std::string err = readFile(dir / "err.log");
  size_t at = err.find("out of file descriptors");
  EXPECT_NE(at, std::string::npos) << err;
  EXPECT_EQ(err.find("out of file descriptors", at + 1), std::string::npos) << "logged once: " << err;
  kill(p.pid, SIGTERM);
  EXPECT_EQ(p.wait(10), 0);
  fs::remove_all(dir);
}

// Reads whatever arrives on `fd` until the peer closes (or the 10 s receive time-out).
std::string readAll(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

int countAnswers(const std::string& s) {
  int n = 0;
  for (size_t at = s.find("HTTP/1.1 200"); at != std::string::npos; at = s.find("HTTP/1.1 200", at + 1)) ++n;
  return n;
}

unsigned short waitForPort(Stampd& p, unsigned short fixed = 0) {
  if (!fixed) return p.port(20);
  for (int i = 0; i < 400; ++i) {
    int fd = connectTo(fixed);
    if (fd >= 0) {
      bool ok = healthz(fd).rfind("HTTP/1.1 200", 0) == 0;
      close(fd);
      if (ok) return fixed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

unsigned short freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// Without a socket handed over by systemd (the socket unit disabled: no LISTEN_FDS, or one
// meant for another process), stampd binds the address it is told; flags also take the
// --flag=value form.
TEST(Process, BindsTheListenAddressWithoutASocketFromSystemd) {
  fs::path dir = scratch("listen");
  for (bool otherProcess : {false, true}) {
    if (otherProcess) {
      setenv("LISTEN_PID", "1", 1);
      setenv("LISTEN_FDS", "1", 1);
    }
    const fs::path err = dir / (otherProcess ? "err-other.log" : "err.log");
    Stampd p({"--listen=127.0.0.1:0", "--no-access-log", "--trusted-proxy", "127.0.0.1", "--render-queue=8"}, err);
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsigned short port = p.port(20);
    ASSERT_NE(port, 0) << readFile(err);
    int fd = connectTo(port);
    ASSERT_GE(fd, 0) << "port " << port << ": " << readFile(err);
    EXPECT_EQ(healthz(fd).rfind("HTTP/1.1 200", 0), 0u);
    close(fd);
    kill(p.pid, SIGTERM);
    EXPECT_EQ(p.wait(10), 0);
  }
  fs::remove_all(dir);
}

// Connections the kernel has completed but the service has not accepted yet when SIGTERM
// comes are taken and answered, not reset: the process is held (SIGSTOP) while 8 clients
// connect and pipeline 3 requests each, then gets SIGTERM and goes on.
TEST(Process, StopAnswersConnectionsStillInTheListenQueue) {
  fs::path dir = scratch("queued");
  Stampd p({"--listen", "127.0.0.1:0", "--no-access-log"}, dir / "err.log");
  unsigned short port = p.port(20);
  ASSERT_NE(port, 0) << readFile(dir / "err.log");
  ASSERT_EQ(kill(p.pid, SIGSTOP), 0);
  std::vector<int> clients;
  const std::string one = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string three = one + "GET /stamp/368/0/AB.png HTTP/1.1\r\nHost: x\r\n\r\n" + one;
  for (int i = 0; i < 8; ++i) {
    int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, three.data(), three.size()), static_cast<ssize_t>(three.size()));
    clients.push_back(fd);
  }
  kill(p.pid, SIGTERM);
  kill(p.pid, SIGCONT);
  int whole = 0;
  for (int fd : clients) {
    whole += countAnswers(readAll(fd)) == 3;
    close(fd);
  }
  EXPECT_EQ(whole, 8);
  EXPECT_EQ(p.wait(10), 0);
  fs::remove_all(dir);
}

// A second SIGTERM (or SIGINT) ends the grace period at once: a client that reads nothing
// would otherwise hold the stop for all of --stop-grace-ms.
TEST(Process, SecondSignalEndsTheStopAtOnce) {
  fs::path dir = scratch("second");
  for (int second : {SIGTERM, SIGINT}) {
    fs::path err = dir / ("err-" + std::to_string(second) + ".log");
    Stampd p({"--listen", "127.0.0.1:0", "--no-access-log", "--stop-grace-ms", "60000", "--timeout-ms", "60000"}, err);
    unsigned short port = p.port(20);
    ASSERT_NE(port, 0) << readFile(err);
    int stuck = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;
    setsockopt(stuck, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(stuck, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string big = "GET /stamp/363/2048/%E5%BC%A0%E4%B8%89.png HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string four = big + big + big + big;  // more than the socket buffers take
    ASSERT_EQ(write(stuck, four.data(), four.size()), static_cast<ssize_t>(four.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // rendered, being written, not read
    kill(p.pid, SIGTERM);
    EXPECT_EQ(p.wait(1), -1) << "the first signal waits for the answer in progress";
    kill(p.pid, second);
    EXPECT_EQ(p.wait(3), 0) << "the second ends the stop";
    close(stuck);
  }
  fs::remove_all(dir);
}

// SIGHUP (a reload) that arrives while the fonts are still loading must not end the process.
TEST(Process, HangUpDuringStartUpIsHarmless) {
  fs::path dir = scratch("hup");
  Stampd p({"--listen", "127.0.0.1:0", "--no-access-log"}, dir / "err.log");
  // As soon as the fonts are being read (a font file is open or mapped: the program is in its
  // start-up, and still far from serving), SIGHUP after SIGHUP.
  auto loadingFonts = [&] {
    std::string maps = readFile("/proc/" + std::to_string(p.pid) + "/maps");
    if (maps.find(".ttc") != std::string::npos || maps.find(".ttf") != std::string::npos) return true;
    std::error_code ec;
    for (auto& e : fs::directory_iterator("/proc/" + std::to_string(p.pid) + "/fd", ec)) {
      std::string target = fs::read_symlink(e.path(), ec).string();
      if (target.ends_with(".ttc") || target.ends_with(".ttf") || target.ends_with(".otf")) return true;
    }
    return false;
  };
  for (int i = 0; i < 10000 && !loadingFonts(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (int i = 0; i < 20; ++i) {
    kill(p.pid, SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(p.port(20), 0) << readFile(dir / "err.log");
  EXPECT_EQ(p.wait(0.2), -1) << "stampd died of SIGHUP";
  kill(p.pid, SIGTERM);
  EXPECT_EQ(p.wait(10), 0);
  fs::remove_all(dir);
}

// stderr that takes nothing (a stalled journal; here a full pipe nobody reads) must stall
// neither start-up, nor requests, nor the stop.
TEST(Process, StalledStderrStallsNothing) {
  fs::path dir = scratch("stderr");
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  std::string fill(4096, 'x');
  while (write(fds[1], fill.data(), fill.size()) > 0) {
  }
  fcntl(fds[1], F_SETFL, 0);
  unsigned short port = freePort();
  Stampd p({"--listen", "127.0.0.1:" + std::to_string(port), "--no-access-log"}, dir / "err.log", 0, fds[1]);
  ASSERT_EQ(waitForPort(p, port), port) << "start-up blocked on stderr";
  kill(p.pid, SIGTERM);
  EXPECT_EQ(p.wait(5), 0) << "the stop blocked on stderr";
  close(fds[0]);
  close(fds[1]);
  fs::remove_all(dir);
}

// Rotation: after mv and SIGHUP the old file is closed (its space is freed once removed),
// whoever opened it; lines go to the new file.
TEST(Process, HangUpClosesTheRotatedAccessLog) {
  fs::path dir = scratch("rotate");
  fs::path log = dir / "access.log";
  Stampd p({"--listen", "127.0.0.1:0", "--access-log", log.string()}, dir / "err.log");
  unsigned short port = p.port(20);
  ASSERT_NE(port, 0) << readFile(dir / "err.log");
  int fd = connectTo(port);
  EXPECT_EQ(healthz(fd).rfind("HTTP/1.1 200", 0), 0u);
  fs::rename(log, dir / "access.log.1");
  kill(p.pid, SIGHUP);
  for (int i = 0; i < 100 && !fs::exists(log); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(log));
  EXPECT_EQ(healthz(fd).rfind("HTTP/1.1 200", 0), 0u);
  fs::remove(dir / "access.log.1");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int stillOpen = 0;
  for (auto& e : fs::directory_iterator("/proc/" + std::to_string(p.pid) + "/fd")) {
    std::error_code ec;
    std::string target = fs::read_symlink(e.path(), ec).string();
    if (target.find("access.log.1") != std::string::npos) ++stillOpen;
  }
  EXPECT_EQ(stillOpen, 0) << "the rotated file is still open";
  EXPECT_NE(readFile(log).find("GET /healthz"), std::string::npos);
  close(fd);
  kill(p.pid, SIGTERM);
  EXPECT_EQ(p.wait(10), 0);
  fs::remove_all(dir);
}

// A file size limit on the access log (ulimit -f) makes its writes fail: the process lives on,
// says so once on stderr, and counts the lost lines.
TEST(Process, FileSizeLimitOnTheAccessLogNeverKills) {
  fs::path dir = scratch("fsize");
  fs::path log = dir / "access.log";
  Stampd p({"--listen", "127.0.0.1:0", "--access-log", log.string()}, dir / "err.log", 0, -1, 16 * 1024);
  unsigned short port = p.port(20);
  ASSERT_NE(port, 0) << readFile(dir / "err.log");
  int fd = connectTo(port);
  for (int i = 0; i < 600; ++i) ASSERT_EQ(healthz(fd).rfind("HTTP/1.1 200", 0), 0u) << "request " << i;
  close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(p.wait(0.1), -1) << "stampd died";
  std::string err = readFile(dir / "err.log");
  size_t at = err.find("access log write failed");
  EXPECT_NE(at, std::string::npos) << err;
  EXPECT_EQ(err.find("access log write failed", at + 1), std::string::npos) << "reported more than once: " << err;
  kill(p.pid, SIGTERM);
  EXPECT_EQ(p.wait(10), 0);
  EXPECT_LE(fs::file_size(log), 16u * 1024);
  fs::remove_all(dir);
}

// The memory ceiling is the tightest limit of the process's cgroup and its parents, on cgroup
// v2 or v1; each render thread counts. A made-up cgroup tree stands in for /sys/fs/cgroup.
TEST(Process, MemoryCeilingReadsParentsAndCgroupV1) {
  fs::path dir = scratch("cgroup");
  auto write = [](const fs::path& f, const std::string& text) {
    fs::create_directories(f.parent_path());
    std::ofstream(f) << text;
  };
  struct Case {
    std::string procCgroup;
    std::vector<std::pair<std::string, std::string>> files;
    bool refused;
  } cases[] = {
      {"0::/system.slice/stampd.service\n", {{"system.slice/stampd.service/memory.max", "max"}, {"system.slice/memory.max", "209715200"}}, true},
      {"0::/system.slice/stampd.service\n", {{"system.slice/stampd.service/memory.max", "max"}, {"system.slice/memory.max", "max"}}, false},
      {"0::/system.slice/stampd.service\n", {{"system.slice/stampd.service/memory.max", "1073741824"}}, false},
      {"5:memory:/system.slice/stampd.service\n0::/\n", {{"memory/system.slice/stampd.service/memory.limit_in_bytes", "209715200"}}, true},
      {"5:cpu,memory:/a\n", {{"memory/a/memory.limit_in_bytes", "9223372036854771712"}}, false},
  };
  int i = 0;
  for (const Case& c : cases) {
    fs::path root = dir / std::to_string(i++);
    for (auto& [f, v] : c.files) write(root / f, v);
    write(root / "proc-cgroup", c.procCgroup);
    setenv("STAMPD_TEST_PROC_CGROUP", (root / "proc-cgroup").c_str(), 1);
    setenv("STAMPD_TEST_CGROUP_ROOT", root.c_str(), 1);
    fs::path err = root / "err.log";
    Stampd p({"--listen", "127.0.0.1:0", "--no-access-log", "--render-threads", "2"}, err);
    if (c.refused) {
      EXPECT_EQ(p.wait(30), 1) << c.procCgroup;
      EXPECT_NE(readFile(err).find("memory ceiling"), std::string::npos) << readFile(err);
    } else {
      EXPECT_NE(p.port(20), 0) << c.procCgroup << readFile(err);
      kill(p.pid, SIGTERM);
      EXPECT_EQ(p.wait(10), 0);
    }
  }
  unsetenv("STAMPD_TEST_PROC_CGROUP");
  unsetenv("STAMPD_TEST_CGROUP_ROOT");
  fs::remove_all(dir);
}

}  // namespace
