// stampd: the stamp service's command line. Parses the flags, loads fonts and the catalogue,
// and serves until SIGINT or SIGTERM, which stop it gracefully.
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <fcntl.h>
#include <optional>
#include <pthread.h>
#include <sstream>
#include <unistd.h>
#include <sys/resource.h>
#include <string>
#include <thread>
#include <vector>

#include <boost/program_options.hpp>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "server/diagnostics.h"
#include "server/http_server.h"
#include "stampd_config.h"
#include "stamps/stamp_service.h"
#include "text/text.h"
#include "web/site.h"

namespace {

// The one description of the command line: --help prints it and the manual page stampd(8) is
// generated from that output at build time (scripts/gen_manpage.py), so the two cannot drift.
// Sections are lines ending in ':'; option lines start with two spaces and a dash. The options
// are Boost.Program_options' own table (options() below), which also parses them.
const char kUsageHead[] = R"(Usage: stampd [options]
Renders seal stamps for the Tambrel desktop tool and answers its update check.

)";

const char kUsageTail[] = R"(
Endpoints:
  GET /aosbegin.php?text=&id=&signsize=&rnd=   generate: reply with the picture path
  GET /stamp/ID/SIZE/TEXT.png                   the picture (immutable)
  GET /maker/thumbnails/FILE                    a template's thumbnail (immutable)
  GET /check/md5.php?message=kwpn               the update reply
  GET /                                         the stamp maker page
  GET /templates.json                           the catalogue for that page
  GET /download                                 the download page
  GET /designer.html                            the seal designer page
  GET|POST /design.png, .svg, .pdf, .json       a design of one's own, drawn or checked
  GET /healthz                                  "ok" while serving
  GET /metrics                                  counters in the Prometheus text format
  HEAD is answered for each; POST only by the design paths; other methods get 405.

Signals:
  SIGTERM, SIGINT           stop: take the connections already queued, close the
                            listening socket, answer every request already received
                            and finish every response being written (up to
                            --stop-grace-ms), then exit 0; a second one ends the
                            grace at once
  SIGHUP                    reopen the --access-log file (log rotation); the old
                            file is closed

Files:
  /etc/default/stampd       flags for the systemd unit (STAMPD_LISTEN, STAMPD_CACHE_MB,
                            STAMPD_OPTS)
  /usr/share/fonts/         the CJK fonts of fonts-noto-cjk, fonts-arphic-ukai and
                            fonts-wqy-microhei

Exit status:
  0                         stopped by a signal after serving
  1                         cannot start: port in use, unreadable font folder, no
                            usable CJK font, access log not writable, --cache-mb
                            too large for the memory ceiling (MemoryMax)
  2                         bad command line: unknown flag, missing or bad value,
                            --downloads not a folder
)";

namespace po = boost::program_options;

// Every flag, in the order --help lists them. Values are taken as text and checked by main(),
// which names the flag and what it wants in one line.
po::options_description options() {
  po::options_description o("Options", 88, 60);
  auto text = [](const char* name) { return po::value<std::string>()->value_name(name); };
  o.add_options()
      ("listen", text("HOST:PORT"), "address to listen on (default " TAMBREL_SERVICE_HOST ")")
      ("fonts", text("DIR"), "add the fonts in DIR (repeatable); a seal-script (篆) or clerical (隶) font "
                             "found there is used for those templates")
      ("no-system-fonts", "use only the fonts of --fonts folders")
      ("cache-mb", text("N"), "memory for rendered pictures, MiB (default 64); the process needs about "
                              "N + 256 MiB in all")
      ("threads", text("N"), "threads serving connections (default: one per core)")
      ("render-threads", text("N"), "threads that render (default: one per core, at most 8, and no more "
                                    "than the memory ceiling has room for)")
      ("render-queue", text("N"), "renders waiting before the answer is 503 (default 128; one client, "
                                  "an IPv4 address or an IPv6 /64, holds at most half)")
      ("trusted-proxy", text("LIST"), "addresses or networks of reverse proxies (127.0.0.1, 10.0.0.0/8, "
                                      "fd00::/8; comma-separated, repeatable) whose X-Forwarded-For names "
                                      "the client: its rightmost address that is not a trusted proxy is "
                                      "the client for the render queue's fairness and the access log; "
                                      "the header of any other peer is ignored (default: none)")
      ("latest-version", text("TEXT"), "version announced to the update check (default 1.0)")
      ("update-time-offset", text("S"), "shift the update reply's issue time by S seconds (negative "
                                        "values make an expired reply, for tests)")
      ("timeout-ms", text("N"), "per-connection read/write time-out (default 15000); a client without a "
                                "complete request header by then gets 408")
      ("stop-grace-ms", text("N"), "how long a stop may take to finish the requests already received "
                                   "(default 5000)")
      ("access-log", text("FILE"), "append the access log to FILE instead of stdout")
      ("listen-fds", "take the listening socket from systemd (LISTEN_FDS; the default whenever "
                     "LISTEN_FDS names this process)")
      ("downloads", text("DIR"), "offer Tambrel-VERSION-setup.exe and Tambrel-VERSION-win64.zip from DIR "
                                 "on /download (default: none offered)")
      ("no-access-log", "no access log")
      ("help", "this text");
  return o;
}

// Exits 2 with one line naming the flag, the value and what is wanted.
long long numberFlag(const char* flag, const char* s, long long lo, long long hi) {
  auto v = tambrel::text::parseInteger(s);
  if (!v || *v < lo || *v > hi) {
    std::fprintf(stderr, "stampd: bad value for %s: '%s' (want a whole number from %lld to %lld)\n", flag, s, lo, hi);
    std::exit(2);
  }
  return *v;
}

// Each connection is a descriptor; the usual soft limit of 1024 is far below what the kernel
// allows, so take the hard limit (say so once). When even that runs out the server pauses
// accepting rather than failing.
void raiseOpenFileLimit() {
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur >= rl.rlim_max) return;
  rlim_t old = rl.rlim_cur;
  rl.rlim_cur = rl.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &rl) == 0)
    std::fprintf(stderr, "stampd: open file limit raised from %llu to %llu\n", static_cast<unsigned long long>(old),
                 static_cast<unsigned long long>(rl.rlim_max));
}

// Under a memory ceiling (systemd's MemoryMax, a container limit) the picture cache must fit
// with room for everything else, or the kernel kills the service under load. The room is a
// fixed part (fonts, connections, the allocator) and a part per render thread (its glyph
// outlines, its raster and encoder scratch, bounded per thread), so hosts with many cores
// count their render threads. The tightest limit of the process's cgroup and every parent
// counts (a slice's limit holds its services too), on cgroup v2 (memory.max) or v1
// (memory.limit_in_bytes). Empty when fine.
constexpr unsigned long long kBaseMiB = 160;
constexpr unsigned long long kPerRenderThreadMiB = 24;

std::optional<unsigned long long> readLimit(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string value;
  if (!(in >> value) || value == "max") return std::nullopt;
  auto bytes = tambrel::text::parseInteger(value);
  // cgroup v1 writes "no limit" as a huge number near LLONG_MAX.
  if (!bytes || *bytes <= 0 || *bytes >= (1LL << 60)) return std::nullopt;
  return static_cast<unsigned long long>(*bytes);
}

// The smallest memory limit from the process's cgroup up to the root, in bytes.
std::optional<unsigned long long> memoryCeiling(const std::string& procCgroup, const std::filesystem::path& root) {
  std::ifstream cgroup(procCgroup);
  std::string line;
  std::optional<unsigned long long> least;
  auto consider = [&](const std::filesystem::path& base, std::string path, const char* file) {
    for (;;) {
      std::string rel = path.substr(std::min(path.size(), path.find_first_not_of('/')));
      if (auto v = readLimit(rel.empty() ? base / file : base / rel / file))
        if (!least || *v < *least) least = v;
      if (rel.empty()) break;
      size_t slash = path.rfind('/');
      path = slash == std::string::npos ? "" : path.substr(0, slash);
    }
  };
  while (std::getline(cgroup, line)) {
    // "0::/system.slice/stampd.service" (v2) or "4:memory:/system.slice/stampd.service" (v1).
    size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    if (line.rfind("0::", 0) == 0) {
      consider(root, path, "memory.max");
    } else {
      std::stringstream list(controllers);
      std::string c;
      while (std::getline(list, c, ','))
        if (c == "memory") consider(root / "memory", path, "memory.limit_in_bytes");
    }
  }
  return least;
}

// Without --render-threads, as many render threads as the ceiling has room for (at least one,
// at most the default); with it, exactly that many, or a refusal when they do not fit.
std::string checkMemoryCeiling(unsigned long long cacheMiB, int* renderThreads, bool chosen) {
  const char* procCgroup = std::getenv("STAMPD_TEST_PROC_CGROUP");  // tests give a made-up tree
  const char* root = std::getenv("STAMPD_TEST_CGROUP_ROOT");
  auto ceiling = memoryCeiling(procCgroup ? procCgroup : "/proc/self/cgroup", root ? root : "/sys/fs/cgroup");
  if (!ceiling) return {};
  unsigned long long ceilingMiB = *ceiling >> 20;
  if (!chosen && ceilingMiB > cacheMiB + kBaseMiB) {
    unsigned long long room = (ceilingMiB - cacheMiB - kBaseMiB) / kPerRenderThreadMiB;
    *renderThreads = static_cast<int>(std::max(1ULL, std::min<unsigned long long>(room, *renderThreads)));
  }
  const int threads = *renderThreads;
  unsigned long long need = cacheMiB + kBaseMiB + kPerRenderThreadMiB * static_cast<unsigned long long>(threads);
  if (need <= ceilingMiB) return {};
  return "--cache-mb " + std::to_string(cacheMiB) + " with " + std::to_string(threads) +
         " render threads needs about " + std::to_string(need) + " MiB but the memory ceiling (MemoryMax) is " +
         std::to_string(ceilingMiB) + " MiB; lower --cache-mb or --render-threads, or raise MemoryMax";
}

// The listening socket systemd passes (socket activation: LISTEN_PID is this process,
// LISTEN_FDS counts descriptors from 3). -1 when there is none; the variables are removed so
// nothing started later takes them for its own.
int listenFdFromSystemd(std::string* error) {
  const char* pid = std::getenv("LISTEN_PID");
  const char* fds = std::getenv("LISTEN_FDS");
  if (!pid || !fds) return -1;
  auto p = tambrel::text::parseInteger(pid);
  auto n = tambrel::text::parseInteger(fds);
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  if (!p || *p != getpid()) return -1;
  if (!n || *n != 1) {
    *error = "socket activation passed " + std::string(fds) + " sockets; stampd takes exactly one";
    return -2;
  }
  fcntl(3, F_SETFD, FD_CLOEXEC);
  return 3;
}

// A font folder named on the command line must be a folder we can list.
bool checkFontFolder(const std::string& dir) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (!ec) return true;
  std::fprintf(stderr, "stampd: cannot read font folder %s: %s\n", dir.c_str(), ec.message().c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tambrel;
  // Signals are blocked from the first moment, so one arriving while the fonts load (SIGHUP
  // from a reload, SIGTERM from a stop) waits for the signal thread instead of killing the
  // process; the threads started later inherit the mask. A file size limit on the access log
  // makes its writes fail (counted, reported) rather than end the process.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR2);  // only from the process itself: ends the signal thread
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  std::string listen = TAMBREL_SERVICE_HOST;
  std::string downloadsDir;  // /download's folder; empty: nothing offered
  std::vector<std::string> fontDirs;
  ServiceOptions service;
  service.pairKey = TAMBREL_PAIR_KEY;
  service.replyKey = TAMBREL_REPLY_KEY;
  service.homeUrl = TAMBREL_HOME_URL;
  service.downloadUrl = TAMBREL_DOWNLOAD_URL;
  ServerOptions server;
  std::string accessLogPath;
  bool accessLog = true;
  bool systemFonts = true;
  bool listenFds = false;

  // Boost.Program_options reads the words (unknown flags, missing values, --flag=value); the
  // flags are then applied in the order given, so a repeated one takes its last value as it
  // always has, and --fonts and --trusted-proxy add up.
  const po::options_description described = options();
  po::options_description hidden;
  hidden.add_options()(",h", "--help");
  po::options_description all;
  all.add(described).add(hidden);
  std::vector<po::option> given;
  try {
    given = po::command_line_parser(argc, argv)
                .options(all)
                .style(po::command_line_style::default_style & ~po::command_line_style::allow_guessing)
                .run()
                .options;
  } catch (const po::unknown_option& e) {
    std::fprintf(stderr, "stampd: unknown option %s (see --help)\n", e.get_option_name().c_str());
    return 2;
  } catch (const po::invalid_command_line_syntax& e) {
    if (e.kind() == po::invalid_syntax::missing_parameter)
      std::fprintf(stderr, "stampd: %s needs a value\n", e.get_option_name().c_str());
    else
      std::fprintf(stderr, "stampd: %s (see --help)\n", e.what());
    return 2;
  } catch (const po::error& e) {
    std::fprintf(stderr, "stampd: %s (see --help)\n", e.what());
    return 2;
  }
  for (const po::option& o : given) {
    const std::string& name = o.string_key;
    const std::string flag = "--" + name;
    const char* v = o.value.empty() ? "" : o.value.front().c_str();
    if (o.unregistered || o.position_key >= 0) {
      std::fprintf(stderr, "stampd: unknown option %s (see --help)\n", o.original_tokens.empty() ? name.c_str()
                                                                                                : o.original_tokens.front().c_str());
      return 2;
    }
    if (name == "help" || name == "-h") {
      std::fputs(kUsageHead, stdout);
      described.print(std::cout, 28);
      std::fputs(kUsageTail, stdout);
      return 0;
    } else if (name == "listen") {
      listen = v;
    } else if (name == "fonts") {
      fontDirs.push_back(v);
    } else if (name == "cache-mb") {
      service.cacheBytes = static_cast<size_t>(numberFlag("--cache-mb", v, 1, 65536)) << 20;
    } else if (name == "threads") {
      server.threads = static_cast<int>(numberFlag("--threads", v, 1, 256));
    } else if (name == "render-threads") {
      server.renderThreads = static_cast<int>(numberFlag("--render-threads", v, 1, 256));
    } else if (name == "render-queue") {
      server.renderQueue = static_cast<size_t>(numberFlag("--render-queue", v, 1, 100000));
      server.renderQueuePerClient = std::max<size_t>(1, server.renderQueue / 2);
    } else if (name == "trusted-proxy") {
      std::string bad;
      if (!server.trustedProxies.add(v, &bad)) {
        std::fprintf(stderr, "stampd: bad value for --trusted-proxy: '%s' (want addresses or networks such as "
                             "127.0.0.1 or 10.0.0.0/8)\n", bad.c_str());
        return 2;
      }
    } else if (name == "listen-fds") {
      listenFds = true;
    } else if (name == "latest-version") {
      service.latestVersion = v;
    } else if (name == "update-time-offset") {
      service.updateTimeOffset = numberFlag("--update-time-offset", v, -4000000000LL, 4000000000LL);
    } else if (name == "timeout-ms") {
      server.timeout = std::chrono::milliseconds(numberFlag("--timeout-ms", v, 100, 3600000));
    } else if (name == "stop-grace-ms") {
      server.stopGrace = std::chrono::milliseconds(numberFlag("--stop-grace-ms", v, 0, 600000));
    } else if (name == "no-system-fonts") {
      systemFonts = false;
    } else if (name == "access-log") {
      accessLogPath = v;
    } else if (name == "downloads") {
      downloadsDir = v;
    } else if (name == "no-access-log") {
      accessLog = false;
    } else {
      std::fprintf(stderr, "stampd: unknown option %s (see --help)\n", flag.c_str());
      return 2;
    }
  }
  if (!splitHostPort(listen, &server.address, &server.port)) {
    std::fprintf(stderr, "stampd: bad value for --listen: '%s' (want HOST:PORT)\n", listen.c_str());
    return 2;
  }
  if (std::error_code ec; !downloadsDir.empty() && !std::filesystem::is_directory(downloadsDir, ec)) {
    std::fprintf(stderr, "stampd: bad value for --downloads: '%s' (not a folder)\n", downloadsDir.c_str());
    return 2;
  }
  std::FILE* logFile = nullptr;
  if (!accessLog) {
    server.accessLog = nullptr;
  } else if (!accessLogPath.empty()) {
    logFile = std::fopen(accessLogPath.c_str(), "ae");
    if (!logFile)
      return std::fprintf(stderr, "stampd: cannot open access log %s: %s\n", accessLogPath.c_str(), std::strerror(errno)), 1;
    server.accessLog = logFile;
    server.accessLogOwned = true;  // SIGHUP closes it once the new file is open
  }
  {
    std::string error;
    server.listenFd = listenFdFromSystemd(&error);
    if (server.listenFd == -2) return std::fprintf(stderr, "stampd: %s\n", error.c_str()), 1;
    if (listenFds && server.listenFd < 0)
      return std::fprintf(stderr, "stampd: --listen-fds given but no socket was passed (LISTEN_FDS)\n"), 1;
  }

  int renderThreads = server.renderThreads > 0 ? server.renderThreads : defaultRenderThreads();
  if (std::string e = checkMemoryCeiling(service.cacheBytes >> 20, &renderThreads, server.renderThreads > 0); !e.empty())
    return std::fprintf(stderr, "stampd: %s\n", e.c_str()), 1;
  server.renderThreads = renderThreads;
  for (const std::string& dir : fontDirs)
    if (!checkFontFolder(dir)) return 1;
  std::string fontLog;
  auto fonts = FontSet::load(fontDirs, &fontLog, systemFonts);
  if (!fonts) {
    std::fputs(fontLog.c_str(), stderr);  // says which files were skipped and why
    std::fprintf(stderr, "stampd: no usable CJK font found; install fonts-noto-cjk or use --fonts DIR\n");
    return 1;
  }
  std::string problems;
  Catalog catalog(Catalog::builtInRecords(), &problems);
  if (!problems.empty()) std::fputs(problems.c_str(), stderr);

  StampService stamps(catalog, *fonts, service);
  Site site(stamps, WebOptions{service.latestVersion, downloadsDir});
  HttpServer http(site, server);
  std::string error;
  if (!http.listen(&error)) {
    std::fprintf(stderr, "stampd: %s\n", error.c_str());
    return 1;
  }
  // From here on stderr is written through the diagnostics thread: a stalled journal never
  // holds up the service.
  if (!fontLog.empty()) diag::say("%s", fontLog.c_str());
  raiseOpenFileLimit();
  if (server.listenFd >= 0)
    diag::say("stampd: %zu templates, serving the listening socket passed by systemd", catalog.all().size());
  else
    diag::say("stampd: %zu templates, listening on http://%s:%u/", catalog.all().size(), server.address.c_str(),
              http.port());
  std::thread waiter([&] {
    bool stopping = false;
    for (;;) {
      int sig = 0;
      if (sigwait(&signals, &sig) != 0) continue;
      if (sig == SIGHUP) {
        if (accessLogPath.empty()) continue;
        std::string err;
        if (http.reopenAccessLog(accessLogPath, &err))
          diag::say("stampd: SIGHUP, access log reopened");
        else
          diag::say("stampd: SIGHUP: %s", err.c_str());
        continue;
      }
      if (sig == SIGUSR2) return;  // run() has returned
      if (stopping) {
        diag::say("stampd: %s again, stopping now", sig == SIGINT ? "SIGINT" : "SIGTERM");
        http.stopNow();
        continue;
      }
      stopping = true;
      diag::say("stampd: %s, stopping", sig == SIGINT ? "SIGINT" : "SIGTERM");
      http.stop();
    }
  });
  http.run();
  // Wake the waiter so it can be joined, whether the stop came from a signal or elsewhere.
  pthread_kill(waiter.native_handle(), SIGUSR2);
  waiter.join();
  diag::say("stampd: stopped");
  diag::flush(500);
  // The access log file is not closed here: a writer stuck on a stalled sink may still hold it,
  // and the process ends now anyway.
  (void)logFile;
  return 0;
}
