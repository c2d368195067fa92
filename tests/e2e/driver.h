// Operating the real Tambrel.exe from another process, as a person would, against the real
// stamp service.
//
// The test program is a Windows program under Wine; the service is a Linux program. Wine lets
// a Windows program start Linux programs (CreateProcessA of "Z:\bin\sh -c ..."), but it cannot
// see their exit status or end them, so everything about the service goes through small shell
// scripts that leave files behind (a pid file, a "done" marker), and its readiness is seen on
// the port itself. The tool is driven with window messages and read back with window messages
// and screen pixels (see the platform notes: other processes' texts through the wide messages,
// pixels only from the screen DC).
//
// Every wait polls a condition with a deadline; nothing sleeps where a condition can be seen.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/unique_handle.h"

namespace tambrel::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr uint16_t kServicePort = 8077;  // the tool's service host is fixed at build time

// Polls pred every few milliseconds until it holds or the time is up; the last answer.
bool wait_until(const std::function<bool()>& pred, milliseconds limit);

// An environment variable's value, or "" where it is not set.
std::string environment(const char* name);
// Titles of the six rows of gallery page p, as the gallery must show them.
std::vector<std::wstring> page_rows(int page);

// ---- paths and files -------------------------------------------------------------------------

// "/tmp/x" -> "Z:\tmp\x"; Windows paths are returned unchanged.
std::string windows_path(const std::string& path);
// "Z:\tmp\x" -> "/tmp/x".
std::string unix_path(const std::string& windows);
std::string read_file(const std::string& path);
// By a UTF-16 path: the test's own A functions follow the test's code page.
std::string read_file(const std::wstring& path);
bool file_exists(const std::string& path);
// Names of the files (not folders) in a folder, sorted.
std::vector<std::string> list_files(const std::string& folder);

// A folder of its own under /tmp for one run of the test program, removed at the end.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();
  const std::string& path() const { return path_; }  // Windows form, no trailing backslash
  std::string unix() const { return unix_path(path_); }
  // A new empty subfolder.
  std::string make_subfolder(const std::string& name) const;

 private:
  std::string path_;
};

// Runs a /bin/sh script and waits for it to finish (it writes a marker file as its last step).
// Its output goes to `log`, never to the test's own streams (ctest would wait for them).
bool run_shell(const std::string& script, const TempFolder& folder, milliseconds limit = seconds(20));

// ---- sockets and HTTP --------------------------------------------------------------------------

void start_winsock();
bool port_accepts(uint16_t port);
struct HttpResult {
  int status = 0;
  std::string body;
};
// A plain HTTP/1.0 GET to 127.0.0.1 (the test's own view of what the service serves).
HttpResult http_get(uint16_t port, const std::string& target);

// ---- the stamp service ----------------------------------------------------------------------

struct ServiceOptions {
  std::string latest_version = "1.0";
  long long update_time_offset = 0;
  uint16_t port = kServicePort;  // another port when a StandInServer stands in front of it
  int timeout_ms = 0;            // the service's --timeout-ms; 0 keeps its default (15 s)
};

// The real stampd on 127.0.0.1:8077, started through the shell, with an access log that records
// every request target exactly as it arrived.
class StampService {
 public:
  StampService(std::string stampd_unix_path, const TempFolder& folder);
  StampService(const StampService&) = delete;
  StampService& operator=(const StampService&) = delete;
  ~StampService();

  // Starts it (stopping a running one first) and waits until the port accepts connections.
  bool start(const ServiceOptions& options = {});
  // Stops it and waits until the port refuses connections.
  bool stop();
  bool running() const { return running_; }

  // Request targets of the access log, oldest first (all starts of this object).
  std::vector<std::string> targets() const;
  std::vector<std::string> targets_since(size_t mark) const;
  size_t count_targets_starting_with(const std::string& prefix) const;
  // Waits until a target starting with prefix appears at an index >= from; returns it.
  std::optional<std::string> wait_for_target(const std::string& prefix, size_t from,
                                             milliseconds limit) const;

 private:
  std::string stampd_;
  const TempFolder& folder_;
  std::string log_;       // unix path of the access log
  std::string pid_file_;  // unix path
  bool running_ = false;
  uint16_t port_ = kServicePort;
  // Touched every second while this object lives; the service's watchdog reads its age.
  void touch_heartbeat() const;
  std::string heartbeat_file_;
  std::mutex heartbeat_mutex_;
  std::condition_variable heartbeat_cv_;
  bool stopping_ = false;
  std::thread heartbeat_;
};

// Listens on the tool's service address 127.0.0.1:8077 and hands every connection it accepts to
// on_accept, on a thread of its own, until stop() or destruction.
class ServicePortListener {
 public:
  explicit ServicePortListener(std::function<void(SOCKET)> on_accept);
  ServicePortListener(const ServicePortListener&) = delete;
  ServicePortListener& operator=(const ServicePortListener&) = delete;
  ~ServicePortListener() { stop(); }
  bool listening() const { return listener_ != INVALID_SOCKET; }
  // No connection is handed over once this returns.
  void stop();
  // From the start of stop(): work on connections already handed over may end early.
  bool stopping() const { return stopping_; }

 private:
  void accept_loop();
  std::function<void(SOCKET)> on_accept_;
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// A listener on 127.0.0.1:8077 that accepts connections and never answers them.
class SilentServer {
 public:
  SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  ~SilentServer();
  bool listening() const { return listener_.listening(); }
  int accepted() const { return accepted_.load(); }

 private:
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::vector<SOCKET> held_;
  ServicePortListener listener_;  // last: made after, and stopped before, what it hands to
};

// A stand-in for the service on the tool's address 127.0.0.1:8077, in the test program itself:
// it passes each request on to the real service on another port and hands the answer back,
// unless a rule for the request's target says to hold the answer for a while first or to answer
// with a body of its own. Every request is answered on a connection of its own, then closed.
class StandInServer {
 public:
  struct Rule {
    std::string prefix;               // applies to targets that start with it
    milliseconds delay{0};            // held this long before the answer goes out
    std::optional<std::string> body;  // answered with this (200, image/png) instead of the service's
  };
  explicit StandInServer(uint16_t backend_port);
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;
  ~StandInServer();
  bool listening() const { return listener_.listening(); }

  void set_rules(std::vector<Rule> rules);
  // Request targets in the order they arrived.
  std::vector<std::string> targets() const;
  size_t count_targets_starting_with(const std::string& prefix) const;
  std::optional<std::string> wait_for_target(const std::string& prefix, size_t from, milliseconds limit) const;

 private:
  void answer(SOCKET client);
  uint16_t backend_port_;
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  std::vector<std::string> targets_;
  std::vector<std::thread> workers_;
  ServicePortListener listener_;  // last: made after, and stopped before, what it hands to
};

// ---- real input (the input system, as a person's mouse and keyboard) -------------------------

// Moves the pointer to a point of a window's client area and clicks there with the left button.
void click_at(HWND hwnd, POINT client);
// Types the characters (as key presses of their virtual keys: letters, digits, space).
void type_keys(const std::string& keys);
// Types any text as an input method delivers it: each UTF-16 unit (both halves of a surrogate
// pair too) as a key press of its own carrying the character (KEYEVENTF_UNICODE).
void type_text(const std::wstring& text);
// The window that has the keyboard focus in the thread of hwnd.
HWND focus_of(HWND hwnd);

// ---- screen pixels ---------------------------------------------------------------------------

struct Rgb {
  int r, g, b;
};

// A copy of a rectangle of the screen (the only place where other processes' pixels are real).
class ScreenShot {
 public:
  // rect is in client coordinates of hwnd.
  ScreenShot(HWND hwnd, const RECT& rect);
  int width() const { return width_; }
  int height() const { return height_; }
  Rgb at(int x, int y) const;
  bool operator==(const ScreenShot& o) const { return pixels_ == o.pixels_; }
  int count(const std::function<bool(Rgb)>& pred, const RECT& area) const;

 private:
  int width_ = 0, height_ = 0;
  std::vector<uint32_t> pixels_;
};

inline bool is_red(Rgb c) { return c.r >= 150 && c.g <= 100 && c.b <= 100; }
inline bool is_near_white(Rgb c) { return c.r >= 245 && c.g >= 245 && c.b >= 245; }

// A decoded picture file (GDI+ in this process), as 8-bit ARGB rows.
struct Argb {
  int a, r, g, b;
};
class DecodedPicture {
 public:
  explicit DecodedPicture(const std::string& file_bytes);
  bool ok() const { return width_ > 0; }
  int width() const { return width_; }
  int height() const { return height_; }
  Argb at(int x, int y) const;

 private:
  int width_ = 0, height_ = 0;
  std::vector<uint32_t> pixels_;
};

// ---- the tool --------------------------------------------------------------------------------

// Control identifiers in creation order: the first control gets 501.
enum ControlId : int {
  kGalleryId = 501,
  kSelectorId,
  kPreviewId,
  kGroupId,
  kTextLabelId,
  kSizeLabelId,
  kTextBoxId,
  kSizeBoxId,
  kGenerateId,
  kSaveId,
  kLinkId,
};

std::wstring window_text(HWND hwnd);
std::string class_name(HWND hwnd);
// The window's rectangle in its parent's client coordinates.
RECT rect_in_parent(HWND hwnd);
// Top-level windows of a process with that class, visible ones only.
std::vector<HWND> process_windows(DWORD pid, const char* window_class);
// Descendants of a window with that class (any depth).
std::vector<HWND> descendants(HWND parent, const char* window_class);
std::wstring gbk_to_wide(const std::string& gbk);

// One running copy of Tambrel.exe in a folder of its own (so its cache starts as that folder's
// "tmp" is). Destruction closes it, or ends it when it does not close.
class Tool {
 public:
  Tool(const std::string& exe, const std::string& folder);
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;
  ~Tool();

  bool started() const { return main_ != nullptr; }
  DWORD pid() const { return pid_; }
  HWND main() const { return main_; }
  HWND control(int id) const;  // by identifier, inside the input group too
  HWND list() const { return control(kGalleryId); }
  const std::string& folder() const { return folder_; }
  std::string cache_folder() const { return folder_ + "\\tmp"; }

  // Waits until the gallery holds its six rows and row 1 is selected.
  bool wait_for_page(milliseconds limit = seconds(30)) const;
  // Waits until the rows show exactly these titles and row 1 is selected.
  bool wait_for_rows(const std::vector<std::wstring>& rows, milliseconds limit = seconds(30)) const;
  std::vector<std::wstring> rows() const;
  int row_count() const;
  int selected_row() const;
  int selector_index() const;
  int selector_count() const;
  std::wstring selector_text() const;
  RECT row_rect(int row) const;  // list client coordinates, from the fixed row heights

  // As a person does: choose a page in the selector, click a row, type, press buttons.
  void choose_page(int index) const;
  void click_row(int row) const;
  void set_text(int id, const std::wstring& text) const;
  void press(int id) const;  // posted, so a modal dialog it opens cannot block the test
  // True when the main window's thread handles a message within the time.
  bool responsive(milliseconds limit = milliseconds(500)) const;

  // Message boxes and dialogs of this process (top-level "#32770" windows).
  HWND wait_for_dialog(milliseconds limit, const std::function<bool(HWND)>& which = nullptr) const;
  std::vector<HWND> dialogs() const;

  // Closes the main window and waits for the process; its exit code, or nothing on time-out.
  std::optional<DWORD> close(milliseconds limit = seconds(30));
  // True while the process runs.
  bool running() const;

 private:
  std::string folder_;
  unique_handle process_;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
};

struct MessageBoxView {
  std::wstring title;
  std::wstring text;
};
MessageBoxView read_message_box(HWND box);
// Presses a button of a dialog by identifier (IDOK, IDNO, ...).
void press_dialog_button(HWND dialog, int id);
// The file-name box of a save dialog, or null when the dialog has none.
HWND save_dialog_name_box(HWND dialog);

// A window of the test program itself, to take activation away from the tool and back.
class OwnWindow {
 public:
  OwnWindow();
  ~OwnWindow();
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

// Moves the pointer to a point of a window's client area (or off every window).
void move_pointer_to(HWND hwnd, POINT client);
void move_pointer_away();

}  // namespace tambrel::e2e
