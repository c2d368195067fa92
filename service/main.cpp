// stampd: the stamp service's command line. Parses the flags, loads fonts and the catalogue,
// and serves until SIGINT or SIGTERM, which stop it gracefully.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "catalog.h"
#include "fonts.h"
#include "http_server.h"
#include "stamp_service.h"
#include "stampd_config.h"
#include "text.h"

namespace {

const char kUsage[] = R"(Usage: stampd [options]
Renders seal stamps for the Tambrel desktop tool and answers its update check.

Options:
  --listen HOST:PORT        address to listen on (default )" TAMBREL_SERVICE_HOST R"()
  --fonts DIR               add the fonts in DIR (repeatable); a seal-script (篆) or
                            clerical (隶) font found there is used for those templates
  --cache-mb N              memory for rendered pictures, MiB (default 64)
  --threads N               worker threads (default: one per core)
  --latest-version TEXT     version announced to the update check (default 1.0)
  --update-time-offset S    shift the update reply's issue time by S seconds
                            (negative values make an expired reply, for tests)
  --timeout-ms N            per-connection read/write time-out (default 15000)
  --access-log FILE         write the access log to FILE instead of stdout
  --downloads DIR           offer Tambrel-VERSION-setup.exe and Tambrel-VERSION-win64.zip
                            from DIR on /download (default: none offered)
  --no-access-log           no access log
  --help                    this text

Endpoints: /aosbegin.php, /stamp/..., /maker/thumbnails/..., /check/md5.php,
/ (the stamp maker page), /templates.json, /download, /healthz (GET and HEAD).
)";

bool parseNumber(const char* s, long long lo, long long hi, long long* out) {
  auto v = tambrel::text::parseInteger(s);
  if (!v || *v < lo || *v > hi) return false;
  *out = *v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tambrel;
  std::string listen = TAMBREL_SERVICE_HOST;
  std::vector<std::string> fontDirs;
  ServiceOptions service;
  service.pairKey = TAMBREL_PAIR_KEY;
  service.replyKey = TAMBREL_REPLY_KEY;
  service.homeUrl = TAMBREL_HOME_URL;
  service.downloadUrl = TAMBREL_DOWNLOAD_URL;
  ServerOptions server;
  std::string accessLogPath;
  bool accessLog = true;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "stampd: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    long long n = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--listen") {
      listen = value("--listen");
    } else if (a == "--fonts") {
      fontDirs.push_back(value("--fonts"));
    } else if (a == "--cache-mb") {
      if (!parseNumber(value("--cache-mb"), 1, 65536, &n)) return std::fprintf(stderr, "stampd: bad --cache-mb\n"), 2;
      service.cacheBytes = static_cast<size_t>(n) << 20;
    } else if (a == "--threads") {
      if (!parseNumber(value("--threads"), 1, 256, &n)) return std::fprintf(stderr, "stampd: bad --threads\n"), 2;
      server.threads = static_cast<int>(n);
    } else if (a == "--latest-version") {
      service.latestVersion = value("--latest-version");
    } else if (a == "--update-time-offset") {
      if (!parseNumber(value("--update-time-offset"), -4000000000LL, 4000000000LL, &n))
        return std::fprintf(stderr, "stampd: bad --update-time-offset\n"), 2;
      service.updateTimeOffset = n;
    } else if (a == "--timeout-ms") {
      if (!parseNumber(value("--timeout-ms"), 100, 3600000, &n)) return std::fprintf(stderr, "stampd: bad --timeout-ms\n"), 2;
      server.timeout = std::chrono::milliseconds(n);
    } else if (a == "--access-log") {
      accessLogPath = value("--access-log");
    } else if (a == "--downloads") {
      service.downloadsDir = value("--downloads");
    } else if (a == "--no-access-log") {
      accessLog = false;
    } else {
      std::fprintf(stderr, "stampd: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (!splitHostPort(listen, &server.address, &server.port)) {
    std::fprintf(stderr, "stampd: --listen wants HOST:PORT, got %s\n", listen.c_str());
    return 2;
  }
  if (std::error_code ec; !service.downloadsDir.empty() && !std::filesystem::is_directory(service.downloadsDir, ec)) {
    std::fprintf(stderr, "stampd: --downloads %s is not a folder\n", service.downloadsDir.c_str());
    return 2;
  }
  std::FILE* logFile = nullptr;
  if (!accessLog) {
    server.accessLog = nullptr;
  } else if (!accessLogPath.empty()) {
    logFile = std::fopen(accessLogPath.c_str(), "a");
    if (!logFile) return std::fprintf(stderr, "stampd: cannot open %s\n", accessLogPath.c_str()), 1;
    server.accessLog = logFile;
  }

  std::string fontLog;
  auto fonts = FontSet::load(fontDirs, &fontLog);
  if (!fonts) {
    std::fprintf(stderr, "stampd: no CJK font found; install fonts-noto-cjk or use --fonts\n");
    return 1;
  }
  std::fputs(fontLog.c_str(), stderr);
  std::string problems;
  Catalog catalog(Catalog::builtInRecords(), &problems);
  if (!problems.empty()) std::fputs(problems.c_str(), stderr);

  // Signals go to one waiting thread; the workers never see them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  StampService stamps(catalog, *fonts, service);
  HttpServer http(stamps, server);
  std::string error;
  if (!http.listen(&error)) {
    std::fprintf(stderr, "stampd: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "stampd: %zu templates, listening on http://%s:%u/\n", catalog.all().size(),
               server.address.c_str(), http.port());
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&signals, &sig);
    if (sig != 0) {
      std::fprintf(stderr, "stampd: %s, stopping\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
      http.stop();
    }
  });
  http.run();
  // run() also returns when stop() came from elsewhere; wake the waiter so it can be joined.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  if (logFile) std::fclose(logFile);
  std::fprintf(stderr, "stampd: stopped\n");
  return 0;
}
