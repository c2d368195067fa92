// WebRequest drives "WinHTTP.WinHTTPRequest.5.1" by member names only.
//
// The request is opened asynchronously and then waited for with "WaitForResponse": a synchronous
// "send" does not honour the receive time-out everywhere (a server that accepts and never answers
// would hold the caller until the server gives up), while the wait is a hard bound; when it runs
// out the request is aborted and counts as failed. "Open" resets time-outs and the redirect
// option on some systems, so both are set after it.
//
// Lifetimes: COM is initialised first and uninitialised last, and only when this call did
// initialise it; the request object is released before that. The body is the only thing that
// leaves the routine besides the caller's output variables.
#include "web/web_request.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "runtime/automation/automation.h"
#include "runtime/binding.h"
#include "runtime/memory_file.h"
#include "runtime/text.h"

TAMBREL_BOUND(web_ole32, "ole32", CoInitialize)
TAMBREL_BOUND(web_ole32, "ole32", CoUninitialize)

namespace tambrel {
namespace detail {
const char WEB_REQUEST_PROGID[] = "WinHTTP.WinHTTPRequest.5.1";
}

namespace {

constexpr int32_t OPTION_ENABLE_REDIRECTS = 6;      // WinHttpRequestOption_EnableRedirects
constexpr int32_t PROXY_SETTING_PROXY = 2;          // HTTPREQUEST_PROXYSETTING_PROXY
constexpr int32_t CREDENTIALS_FOR_PROXY = 1;        // HTTPREQUEST_SETCREDENTIALS_FOR_PROXY
constexpr char SET_COOKIE[] = "Set-Cookie: ";
constexpr size_t SET_COOKIE_LENGTH = sizeof(SET_COOKIE) - 1;

// Balances the apartment only when this call entered it: a thread that is already in another
// apartment kind refuses CoInitialize, and must not be uninitialised on its owner's behalf.
class ComApartment {
 public:
  ComApartment() : result_(web_ole32::CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) web_ole32::CoUninitialize();
  }

 private:
  HRESULT result_;
};

bool empty_text(const char* t) { return !t || !*t; }

// Milliseconds for all four WinHTTP time-outs, and the whole-request bound in seconds that the
// wait uses (rounded up; negative means no bound, as WinHTTP reads -1).
int32_t timeout_ms(const std::optional<int32_t>& seconds) {
  if (!seconds) return WEB_DEFAULT_TIMEOUT_MS;
  int64_t ms = static_cast<int64_t>(*seconds) * 1000;
  if (ms > INT32_MAX) return INT32_MAX;
  if (ms < -1) return -1;
  return static_cast<int32_t>(ms);
}
int32_t wait_seconds(int32_t ms) { return ms < 0 ? -1 : static_cast<int32_t>((ms + 999LL) / 1000); }

}  // namespace

Text collect_set_cookies(const char* headers) {
  if (find_text(headers, SET_COOKIE, std::nullopt, true) < 0) return {};
  // The runtime's memory file splits the lines: a line ends at CR, LF or CR LF, and a last
  // line without line end counts.
  FileHandle file = open_memory_file();
  write_text_to_file(file, headers);
  rewind_file(file);
  std::string collected;
  while (!at_end_of_file(file)) {
    const Text line = read_line(file);
    // Only a header named Set-Cookie counts; the same words inside another header's value are
    // not a cookie.
    if (find_text(line.c_str(), SET_COOKIE, 1, true) != 1) continue;
    const Text value = replace_part(line.c_str(), 1, SET_COOKIE_LENGTH, std::nullopt);
    // A cookie without attributes has no ";": its whole value is the entry.
    const int32_t semicolon = find_text(value.c_str(), ";");
    const Text entry = semicolon > 0 ? left_text(value.c_str(), semicolon - 1) : value;
    collected.append(entry.view()).append(";");
  }
  close_file(file);
  return Text(std::string_view(collected));
}

Bytes WebRequest(Text* url, Text* method, const char* proxy, const char* proxy_user,
                 const char* proxy_password, const char* referrer, const char* body,
                 std::optional<int32_t> timeout_seconds, Text* response_headers, Text* location,
                 const char* cookies, Text* cookies_out) {
  detail::WebRequestParams p;
  p.url = url;
  p.method = method;
  p.proxy = proxy;
  p.proxy_user = proxy_user;
  p.proxy_password = proxy_password;
  p.referrer = referrer;
  p.body = body;
  p.timeout_seconds = timeout_seconds;
  p.response_headers = response_headers;
  p.location = location;
  p.cookies = cookies;
  p.cookies_out = cookies_out;
  return detail::web_request(p);
}

Bytes detail::web_request(const WebRequestParams& p, const char* prog_id) {
  Text own_url;
  Text* url = p.url ? p.url : &own_url;
  if (std::strncmp(url->c_str(), "http://", 7) != 0 && std::strncmp(url->c_str(), "https://", 8) != 0) {
    *url = Text(std::string_view(std::string("http://") + url->c_str()));
  }

  Text own_method;
  Text* method = p.method ? p.method : &own_method;
  std::string verb(upper_text(method->c_str()).view());
  if (verb != "GET" && verb != "POST") {
    *method = Text("GET");
    verb = "GET";
  }

  const int32_t t = timeout_ms(p.timeout_seconds);

  ComApartment apartment;
  ObjectHolder request;  // released before the apartment is left
  if (!create_object(request, prog_id)) {
    return Bytes::adopt(const_cast<BytesBlock*>(&EMPTY_BYTES));
  }

  call_method(request, "Open", {arg::text(verb.c_str()), arg::text(url->c_str()), arg::boolean(true)});
  call_method(request, "SetTimeouts",
              {arg::integer(t), arg::integer(t), arg::integer(t), arg::integer(t)});
  // Redirects come back as they are; their target is reported through `location`.
  set_property(request, "Option", {arg::integer(OPTION_ENABLE_REDIRECTS), arg::integer(0)});
  if (!empty_text(p.proxy)) {
    call_method(request, "SetProxy", {arg::integer(PROXY_SETTING_PROXY), arg::text(p.proxy)});
    if (!empty_text(p.proxy_user)) {
      call_method(request, "SetCredentials",
                  {arg::text(p.proxy_user), arg::text(p.proxy_password ? p.proxy_password : ""),
                   arg::integer(CREDENTIALS_FOR_PROXY)});
    }
  }
  if (verb == "POST") {
    call_method(request, "SetRequestHeader",
                {arg::text("Content-Type"), arg::text("application/x-www-form-urlencoded")});
  }
  if (!empty_text(p.referrer)) {
    call_method(request, "SetRequestHeader", {arg::text("Referer"), arg::text(p.referrer)});
  }
  if (!empty_text(p.cookies)) {
    call_method(request, "SetRequestHeader", {arg::text("Cookie"), arg::text(p.cookies)});
  }

  call_method(request, "Send", {arg::text(p.body)});
  bool answered = SUCCEEDED(request.last_result);
  if (answered) {
    Variant done = call_method_value(request, "WaitForResponse", {arg::integer(wait_seconds(t))});
    answered = done.type() == VT_BOOL && V_BOOL(done.get()) != VARIANT_FALSE;
  }

  Bytes body;
  Text headers;
  Text target;
  if (answered) {
    Variant response = get_property(request, "ResponseBody");
    body = variant_to_bytes(response.get());
    headers = call_method_text(request, "GetAllResponseHeaders");
    target = call_method_text(request, "GetResponseHeader", {arg::text("Location")});
  } else {
    call_method(request, "Abort");
  }

  if (p.response_headers) *p.response_headers = headers;
  if (p.location) *p.location = std::move(target);
  if (p.cookies_out) {
    Text set = collect_set_cookies(headers.c_str());
    *p.cookies_out = set.empty() ? Text(p.cookies) : std::move(set);
  }
  return body;
}

}  // namespace tambrel
