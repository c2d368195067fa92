// See driver.h for the design.
#include "tests/e2e/driver.h"

#include <ws2tcpip.h>
// GDI+ needs the COM and property declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <propidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/catalog.h"

namespace tambrel::e2e {
namespace {

// Dispatches what is pending for the test's own windows, so that a tool that sends them a
// message (activation changes do) is never left waiting for the test.
// Standard handles for the programs the test starts: the null device, so that nothing they
// write reaches (or holds open) the test's own output, which ctest reads.
STARTUPINFOA quiet_startup() {
  static HANDLE null_device = [] {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
  }();
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = null_device;
  return si;
}

void pump_own_messages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

LRESULT send_message(HWND hwnd, UINT message, WPARAM wparam = 0, LPARAM lparam = 0,
             milliseconds limit = seconds(20)) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_NORMAL,
                           static_cast<UINT>(limit.count()), &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

// SOCKET is an integer, not a pointer, so it gets its own small owner.
class unique_socket {
 public:
  explicit unique_socket(SOCKET s) : s_(s) {}
  unique_socket(const unique_socket&) = delete;
  unique_socket& operator=(const unique_socket&) = delete;
  ~unique_socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

unique_socket loopback_socket() { return unique_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

bool wait_until(const std::function<bool()>& pred, milliseconds limit) {
  const auto end = Clock::now() + limit;
  for (;;) {
    pump_own_messages();
    if (pred()) return true;
    if (Clock::now() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

namespace {

// The request targets a server has seen, by prefix: shared by the real service's log and the
// stand-in's record.
size_t count_starting_with(const std::vector<std::string>& targets, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& t : targets) n += t.rfind(prefix, 0) == 0;
  return n;
}

std::optional<std::string> wait_for_prefix(const std::function<std::vector<std::string>()>& targets,
                                           const std::string& prefix, size_t from, milliseconds limit) {
  std::optional<std::string> found;
  wait_until(
      [&] {
        const std::vector<std::string> all = targets();
        for (size_t i = from; i < all.size(); ++i) {
          if (all[i].rfind(prefix, 0) == 0) {
            found = all[i];
            return true;
          }
        }
        return false;
      },
      limit);
  return found;
}

}  // namespace

// ---- paths and files -------------------------------------------------------------------------

std::string windows_path(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string w = "Z:" + path;
  std::replace(w.begin(), w.end(), '/', '\\');
  return w;
}

std::string unix_path(const std::string& windows) {
  std::string u = windows;
  if (u.size() >= 2 && (u[0] == 'Z' || u[0] == 'z') && u[1] == ':') u = u.substr(2);
  std::replace(u.begin(), u.end(), '\\', '/');
  return u;
}

namespace {

std::string read_whole(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(file);
  return out;
}

}  // namespace

// Shares everything, delete included, so that polling a file never holds off the tool's own
// replace of it.
std::string read_file(const std::string& path) {
  return read_whole(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string read_file(const std::wstring& path) {
  return read_whole(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::vector<std::wstring> page_rows(int page) {
  std::vector<std::wstring> rows{L"上一页"};
  for (int k = 4 * (page - 1) + 2; k <= 4 * (page - 1) + 5; ++k) {
    rows.push_back(gbk_to_wide(app::TemplateCatalog[k].title.c_str()));
  }
  rows.push_back(L"下一页");
  return rows;
}

bool file_exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> list_files(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TempFolder::TempFolder() {
  char name[96];
  std::snprintf(name, sizeof name, "Z:\\tmp\\tambrel-e2e-%lu-%llu", GetCurrentProcessId(),
                static_cast<unsigned long long>(GetTickCount64()));
  path_ = name;
  CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_), ignored);
}

std::string TempFolder::make_subfolder(const std::string& name) const {
  std::string p = path_ + "\\" + name;
  CreateDirectoryA(p.c_str(), nullptr);
  return p;
}

bool run_shell(const std::string& script, const TempFolder& folder, milliseconds limit) {
  static std::atomic<int> counter{0};
  const std::string marker = folder.path() + "\\.shell-done-" + std::to_string(++counter);
  // The script is passed in double quotes, so it must hold none; Unix paths need no backslashes.
  std::string command = "Z:\\bin\\sh -c \"exec >>" + quote(folder.unix() + "/shell.log") +
                        " 2>&1 </dev/null; (" + script + "); : >" + quote(unix_path(marker)) + "\"";
  STARTUPINFOA si = quiet_startup();
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  const bool done = wait_until([&] { return file_exists(marker); }, limit);
  DeleteFileA(marker.c_str());
  return done;
}

// ---- sockets and HTTP --------------------------------------------------------------------------

void start_winsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

bool port_accepts(uint16_t port) {
  start_winsock();
  unique_socket s = loopback_socket();
  sockaddr_in a = loopback(port);
  return connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

HttpResult http_get(uint16_t port, const std::string& target) {
  start_winsock();
  HttpResult result;
  unique_socket s = loopback_socket();
  sockaddr_in a = loopback(port);
  if (connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return result;
  DWORD timeout_ms = 20000;
  setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nConnection: close\r\n\r\n";
  if (send(s.get(), request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
    return result;
  }
  std::string raw;
  char buffer[16384];
  for (;;) {
    const int n = recv(s.get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  const size_t head_end = raw.find("\r\n\r\n");
  if (raw.compare(0, 5, "HTTP/") != 0 || head_end == std::string::npos) return result;
  result.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
  result.body = raw.substr(head_end + 4);
  return result;
}

// ---- the stamp service ----------------------------------------------------------------------

StampService::StampService(std::string stampd_unix_path, const TempFolder& folder)
    : stampd_(std::move(stampd_unix_path)), folder_(folder) {
  log_ = folder_.unix() + "/access.log";
  pid_file_ = folder_.unix() + "/stampd.pid";
  heartbeat_file_ = folder_.path() + "\\heartbeat";
  touch_heartbeat();
  std::ofstream watchdog(folder_.path() + "\\watchdog.sh", std::ios::binary);
  watchdog << "# Stops the service (pid $1) once the test program's heartbeat file ($2) is stale.\n"
              "while kill -0 \"$1\" 2>/dev/null; do\n"
              "  sleep 1\n"
              "  age=$(( $(date +%s) - $(stat -c %Y \"$2\" 2>/dev/null || echo 0) ))\n"
              "  if [ \"$age\" -gt 30 ]; then kill \"$1\"; break; fi\n"
              "done\n";
  watchdog.close();
  heartbeat_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(heartbeat_mutex_);
    while (!heartbeat_cv_.wait_for(lock, seconds(1), [this] { return stopping_; })) touch_heartbeat();
  });
}

StampService::~StampService() {
  stop();
  {
    std::lock_guard<std::mutex> lock(heartbeat_mutex_);
    stopping_ = true;
  }
  heartbeat_cv_.notify_all();
  heartbeat_.join();
}

void StampService::touch_heartbeat() const {
  HANDLE f = CreateFileA(heartbeat_file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(f, nullptr, nullptr, &now);
  CloseHandle(f);
}

bool StampService::start(const ServiceOptions& options) {
  if (running_) stop();
  port_ = options.port;
  if (port_accepts(port_)) return false;  // something else holds the port
  // Should this program die without stopping the service, the watchdog stops it once the
  // heartbeat file has gone stale (the shell cannot watch this program's process: Wine starts
  // it detached). It runs in a session of its own, so that ending this program's process group
  // does not end it too; `timeout` bounds the service's life in any case.
  const std::string script =
      "timeout 1500 " + quote(stampd_) + " --listen 127.0.0.1:" + std::to_string(options.port) +
      " --access-log " + quote(log_) + " --latest-version " + quote(options.latest_version) +
      " --update-time-offset " + std::to_string(options.update_time_offset) +
      (options.timeout_ms > 0 ? " --timeout-ms " + std::to_string(options.timeout_ms) : std::string()) + " >>" +
      quote(folder_.unix() + "/stampd.out") + " 2>&1 & svc=$!; echo $svc >" + quote(pid_file_) +
      "; setsid sh " + quote(folder_.unix() + "/watchdog.sh") + " $svc " + quote(unix_path(heartbeat_file_)) +
      " >/dev/null 2>&1 &";
  if (!run_shell(script, folder_)) return false;
  running_ = wait_until([&] { return port_accepts(port_); }, seconds(20));
  return running_;
}

bool StampService::stop() {
  if (!file_exists(windows_path(pid_file_))) {
    running_ = false;
    return true;  // not started here: nothing of ours to stop
  }
  // Waits for the process itself to end, not only for the port to close.
  const std::string script = "svc=$(cat " + quote(pid_file_) + "); kill $svc 2>/dev/null; i=0;"
                             " while kill -0 $svc 2>/dev/null && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done;"
                             " kill -9 $svc 2>/dev/null; rm -f " + quote(pid_file_);
  run_shell(script, folder_);
  running_ = false;
  return wait_until([&] { return !port_accepts(port_); }, seconds(20));
}

std::vector<std::string> StampService::targets() const {
  std::vector<std::string> out;
  std::istringstream log(read_file(windows_path(log_)));
  std::string line;
  while (std::getline(log, line)) {
    const size_t start = line.find("\"GET ");
    if (start == std::string::npos) continue;
    const size_t end = line.find(" HTTP/", start);
    if (end == std::string::npos) continue;
    out.push_back(line.substr(start + 5, end - start - 5));
  }
  return out;
}

std::vector<std::string> StampService::targets_since(size_t mark) const {
  std::vector<std::string> all = targets();
  all.erase(all.begin(), all.begin() + static_cast<long>(std::min(mark, all.size())));
  return all;
}

size_t StampService::count_targets_starting_with(const std::string& prefix) const {
  return count_starting_with(targets(), prefix);
}

std::optional<std::string> StampService::wait_for_target(const std::string& prefix, size_t from,
                                                          milliseconds limit) const {
  return wait_for_prefix([this] { return targets(); }, prefix, from, limit);
}

namespace {

// A socket listening on the tool's service port, or INVALID_SOCKET. The service's old
// connections may hold the port for a moment after it stopped.
SOCKET listen_on_service_port() {
  start_winsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL reuse = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in a = loopback(kServicePort);
  const bool bound = wait_until(
      [&] { return bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0; }, seconds(10));
  if (!bound || listen(s, 16) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

ServicePortListener::ServicePortListener(std::function<void(SOCKET)> on_accept)
    : on_accept_(std::move(on_accept)) {
  SOCKET s = listen_on_service_port();
  if (s == INVALID_SOCKET) return;
  listener_ = s;
  thread_ = std::thread([this] { accept_loop(); });
}

void ServicePortListener::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  listener_ = INVALID_SOCKET;
}

void ServicePortListener::accept_loop() {
  while (!stopping_) {
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(listener_, &read_set);
    timeval tick{0, 50000};
    if (select(0, &read_set, nullptr, nullptr, &tick) <= 0) continue;
    SOCKET c = accept(listener_, nullptr, nullptr);
    if (c != INVALID_SOCKET) on_accept_(c);
  }
}

SilentServer::SilentServer()
    : listener_([this](SOCKET c) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.push_back(c);  // held open, unanswered, until the server goes away
        ++accepted_;
      }) {}

SilentServer::~SilentServer() {
  listener_.stop();
  for (SOCKET s : held_) closesocket(s);
}

// ---- the stand-in server ------------------------------------------------------------------------

StandInServer::StandInServer(uint16_t backend_port)
    : backend_port_(backend_port), listener_([this](SOCKET c) {
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, c] { answer(c); });
      }) {}

StandInServer::~StandInServer() {
  listener_.stop();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
}

void StandInServer::set_rules(std::vector<Rule> rules) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_ = std::move(rules);
}

std::vector<std::string> StandInServer::targets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return targets_;
}

size_t StandInServer::count_targets_starting_with(const std::string& prefix) const {
  return count_starting_with(targets(), prefix);
}

std::optional<std::string> StandInServer::wait_for_target(const std::string& prefix, size_t from,
                                                          milliseconds limit) const {
  return wait_for_prefix([this] { return targets(); }, prefix, from, limit);
}

void StandInServer::answer(SOCKET client) {
  unique_socket owned(client);
  DWORD timeout_ms = 20000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
  std::string head;
  char buffer[16384];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const int n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
  }
  // "GET /target HTTP/1.1"
  const size_t space = head.find(' ');
  const size_t second = head.find(' ', space + 1);
  if (space == std::string::npos || second == std::string::npos) return;
  const std::string target = head.substr(space + 1, second - space - 1);
  Rule rule;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.push_back(target);
    for (const Rule& r : rules_) {
      if (target.rfind(r.prefix, 0) == 0) {
        rule = r;
        break;
      }
    }
  }
  std::string response;
  if (rule.body) {
    response = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + std::to_string(rule.body->size()) +
               "\r\nConnection: close\r\n\r\n" + *rule.body;
  } else {
    unique_socket backend = loopback_socket();
    sockaddr_in a = loopback(backend_port_);
    if (connect(backend.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    setsockopt(backend.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(kServicePort) +
                                "\r\nConnection: close\r\n\r\n";
    send(backend.get(), request.data(), static_cast<int>(request.size()), 0);
    for (;;) {
      const int n = recv(backend.get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      response.append(buffer, static_cast<size_t>(n));
    }
  }
  const auto until = Clock::now() + rule.delay;
  while (!listener_.stopping() && Clock::now() < until) std::this_thread::sleep_for(milliseconds(10));
  size_t sent = 0;
  while (sent < response.size()) {
    const int n = send(client, response.data() + sent, static_cast<int>(std::min<size_t>(response.size() - sent, 1 << 16)), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(client, SD_SEND);
  // Let the client read to the end before the socket goes.
  while (recv(client, buffer, sizeof buffer, 0) > 0) {
  }
}

// ---- real input ----------------------------------------------------------------------------------

void click_at(HWND hwnd, POINT client) {
  ClientToScreen(hwnd, &client);
  SetCursorPos(client.x, client.y);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
}

void type_keys(const std::string& keys) {
  for (char c : keys) {
    const WORD key = static_cast<WORD>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = key;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
  }
}

void type_text(const std::wstring& text) {
  for (wchar_t unit : text) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wScan = inputs[1].ki.wScan = unit;
    inputs[0].ki.dwFlags = KEYEVENTF_UNICODE;
    inputs[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
  }
}

HWND focus_of(HWND hwnd) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// ---- screen pixels ---------------------------------------------------------------------------

ScreenShot::ScreenShot(HWND hwnd, const RECT& rect) {
  width_ = rect.right - rect.left;
  height_ = rect.bottom - rect.top;
  POINT origin{rect.left, rect.top};
  ClientToScreen(hwnd, &origin);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width_, height_, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  pixels_.assign(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width_ * height_);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

Rgb ScreenShot::at(int x, int y) const {
  const uint32_t p = pixels_.at(static_cast<size_t>(y) * width_ + x);
  return {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF), static_cast<int>(p & 0xFF)};
}

int ScreenShot::count(const std::function<bool(Rgb)>& pred, const RECT& area) const {
  int n = 0;
  for (int y = std::max<int>(0, area.top); y < std::min<int>(height_, area.bottom); ++y) {
    for (int x = std::max<int>(0, area.left); x < std::min<int>(width_, area.right); ++x) n += pred(at(x, y));
  }
  return n;
}

DecodedPicture::DecodedPicture(const std::string& file_bytes) {
  namespace gp = Gdiplus;
  static const bool started = [] {
    ULONG_PTR token = 0;
    gp::GdiplusStartupInput input;
    return gp::GdiplusStartup(&token, &input, nullptr) == gp::Ok;
  }();
  if (!started || file_bytes.empty()) return;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, file_bytes.size());
  std::memcpy(GlobalLock(memory), file_bytes.data(), file_bytes.size());
  GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
    GlobalFree(memory);
    return;
  }
  gp::GpBitmap* bitmap = nullptr;
  if (gp::DllExports::GdipCreateBitmapFromStream(stream, &bitmap) == gp::Ok) {
    UINT w = 0, h = 0;
    gp::DllExports::GdipGetImageWidth(bitmap, &w);
    gp::DllExports::GdipGetImageHeight(bitmap, &h);
    gp::Rect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
    gp::BitmapData data{};
    if (w && h &&
        gp::DllExports::GdipBitmapLockBits(bitmap, &all, gp::ImageLockModeRead, PixelFormat32bppARGB, &data) ==
            gp::Ok) {
      width_ = static_cast<int>(w);
      height_ = static_cast<int>(h);
      pixels_.resize(static_cast<size_t>(w) * h);
      for (UINT y = 0; y < h; ++y) {
        std::memcpy(&pixels_[static_cast<size_t>(y) * w], static_cast<const char*>(data.Scan0) + y * data.Stride,
                    w * 4);
      }
      gp::DllExports::GdipBitmapUnlockBits(bitmap, &data);
    }
    gp::DllExports::GdipDisposeImage(bitmap);
  }
  stream->Release();
}

Argb DecodedPicture::at(int x, int y) const {
  const uint32_t p = pixels_.at(static_cast<size_t>(y) * width_ + x);
  return {static_cast<int>(p >> 24), static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
          static_cast<int>(p & 0xFF)};
}

// ---- windows of other processes ----------------------------------------------------------------

std::wstring window_text(HWND hwnd) {
  wchar_t buffer[1024] = {};
  const LRESULT n = send_message(hwnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
  return n > 0 ? std::wstring(buffer, static_cast<size_t>(n)) : std::wstring();
}

std::string class_name(HWND hwnd) {
  char name[128] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

RECT rect_in_parent(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<HWND> process_windows(DWORD pid, const char* window_class) {
  struct Search {
    DWORD pid;
    const char* window_class;
    std::vector<HWND> found;
  } search{pid, window_class, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid && IsWindowVisible(hwnd) && lstrcmpiA(class_name(hwnd).c_str(), s->window_class) == 0) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> descendants(HWND parent, const char* window_class) {
  struct Search {
    const char* window_class;
    std::vector<HWND> found;
  } search{window_class, {}};
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (lstrcmpiA(class_name(hwnd).c_str(), s->window_class) == 0) s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring gbk_to_wide(const std::string& gbk) {
  if (gbk.empty()) return {};
  const int n = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), w.data(), n);
  return w;
}

// ---- the tool --------------------------------------------------------------------------------

Tool::Tool(const std::string& exe, const std::string& folder) : folder_(folder) {
  CreateDirectoryA(folder_.c_str(), nullptr);
  const std::string copy = folder_ + "\\Tambrel.exe";
  // An installed copy already sits in its folder and runs where it is.
  if (lstrcmpiA(windows_path(exe).c_str(), copy.c_str()) != 0 &&
      !CopyFileA(windows_path(exe).c_str(), copy.c_str(), FALSE)) {
    return;
  }
  std::string command = "\"" + copy + "\"";
  STARTUPINFOA si = quiet_startup();
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(copy.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder_.c_str(),
                      &si, &pi)) {
    return;
  }
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  pid_ = pi.dwProcessId;
  wait_until(
      [&] {
        std::vector<HWND> found = process_windows(pid_, "GdiPlusWin");
        if (found.empty()) return false;
        main_ = found.front();
        return true;
      },
      seconds(30));
}

Tool::~Tool() {
  if (!running()) return;
  if (!close(seconds(15))) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
}

bool Tool::running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

HWND Tool::control(int id) const {
  if (id > kGroupId) return GetDlgItem(GetDlgItem(main_, kGroupId), id);
  return GetDlgItem(main_, id);
}

int Tool::row_count() const { return static_cast<int>(send_message(list(), LB_GETCOUNT)); }
int Tool::selected_row() const { return static_cast<int>(send_message(list(), LB_GETCURSEL)); }
int Tool::selector_index() const { return static_cast<int>(send_message(control(kSelectorId), CB_GETCURSEL)); }
int Tool::selector_count() const { return static_cast<int>(send_message(control(kSelectorId), CB_GETCOUNT)); }
std::wstring Tool::selector_text() const { return window_text(control(kSelectorId)); }

std::vector<std::wstring> Tool::rows() const {
  std::vector<std::wstring> out;
  const int n = row_count();
  for (int i = 0; i < n; ++i) {
    wchar_t buffer[512] = {};
    const LRESULT len = send_message(list(), LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    out.emplace_back(len > 0 ? std::wstring(buffer, wcsnlen(buffer, std::size(buffer))) : std::wstring());
  }
  return out;
}

bool Tool::wait_for_page(milliseconds limit) const {
  return wait_until([&] { return row_count() == 6 && selected_row() == 1; }, limit);
}

bool Tool::wait_for_rows(const std::vector<std::wstring>& expected, milliseconds limit) const {
  return wait_until([&] { return selected_row() == 1 && rows() == expected; }, limit);
}

RECT Tool::row_rect(int row) const {
  RECT client{};
  GetClientRect(list(), &client);
  static constexpr int kTops[] = {0, 40, 130, 220, 310, 400, 440};
  return RECT{0, kTops[row], client.right, kTops[row + 1]};
}

void Tool::choose_page(int index) const {
  // What the selector's own list does when a person picks an entry: select it, then tell the
  // owner that the selection changed.
  HWND selector = control(kSelectorId);
  send_message(selector, CB_SETCURSEL, static_cast<WPARAM>(index));
  PostMessageW(main_, WM_COMMAND, MAKEWPARAM(kSelectorId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(selector));
}

void Tool::click_row(int row) const {
  const RECT r = row_rect(row);
  const LPARAM at = MAKELPARAM(50, (r.top + r.bottom) / 2);
  PostMessageW(list(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list(), WM_LBUTTONUP, 0, at);
}

void Tool::set_text(int id, const std::wstring& text) const {
  send_message(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Tool::press(int id) const { PostMessageW(control(id), BM_CLICK, 0, 0); }

bool Tool::responsive(milliseconds limit) const {
  DWORD_PTR ignored;
  return SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(limit.count()), &ignored) != 0;
}

std::vector<HWND> Tool::dialogs() const { return process_windows(pid_, "#32770"); }

HWND Tool::wait_for_dialog(milliseconds limit, const std::function<bool(HWND)>& which) const {
  HWND found = nullptr;
  wait_until(
      [&] {
        for (HWND d : dialogs()) {
          if (!which || which(d)) {
            found = d;
            return true;
          }
        }
        return false;
      },
      limit);
  return found;
}

std::optional<DWORD> Tool::close(milliseconds limit) {
  if (!process_) return std::nullopt;
  if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

MessageBoxView read_message_box(HWND box) {
  MessageBoxView view{window_text(box), {}};
  for (HWND s : descendants(box, "Static")) {
    std::wstring t = window_text(s);
    if (!t.empty()) view.text = t;
  }
  return view;
}

void press_dialog_button(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

HWND save_dialog_name_box(HWND dialog) {
  constexpr int kFileNameId = 0x47C;
  for (HWND child : descendants(dialog, "ComboBoxEx32")) {
    if (GetDlgCtrlID(child) == kFileNameId) {
      std::vector<HWND> edits = descendants(child, "Edit");
      if (!edits.empty()) return edits.front();
    }
  }
  for (HWND edit : descendants(dialog, "Edit")) {
    if (GetDlgCtrlID(edit) == kFileNameId) return edit;
  }
  return nullptr;
}

OwnWindow::OwnWindow() {
  hwnd_ = CreateWindowExA(0, "Static", "e2e", WS_POPUP | WS_VISIBLE | WS_BORDER, 1100, 900, 120, 60,
                          nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

OwnWindow::~OwnWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void move_pointer_to(HWND hwnd, POINT client) {
  ClientToScreen(hwnd, &client);
  SetCursorPos(client.x, client.y);
}

void move_pointer_away() { SetCursorPos(1270, 1010); }

}  // namespace tambrel::e2e
