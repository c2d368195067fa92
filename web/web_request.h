// The program's only network access: one HTTP request through the system's WinHTTP request
// object, driven by member names, returning the response body.
//
// Every call is self-contained (its own COM initialisation on the calling thread and its own
// request object), so any thread may call it. The call blocks until the response has arrived or
// the time-out has passed; the time-out bounds the whole request, not only each of its phases.
// A failed request (refused, timed out, unreachable) returns null with empty headers and
// location. Redirects are not followed: the redirect response itself comes back, its target in
// `location`.
//
// The url and method are variables that the routine may rewrite (a missing scheme gets "http://"
// in front, an unknown method becomes "GET"); headers, location and cookies-out are outputs. Text
// inputs are plain texts where null and "" both mean "not given". Most callers write
// `WebRequest(&url)`.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/values.h"

namespace tambrel {

constexpr int32_t WEB_DEFAULT_TIMEOUT_MS = 15000;

// Returns the body (null when there is none or the request failed), or EMPTY_BYTES when the
// request object cannot be created, in which case no output is touched.
Bytes WebRequest(Text* url, Text* method = nullptr, const char* proxy = nullptr,
                 const char* proxy_user = nullptr, const char* proxy_password = nullptr,
                 const char* referrer = nullptr, const char* body = nullptr,
                 std::optional<int32_t> timeout_seconds = std::nullopt,
                 Text* response_headers = nullptr, Text* location = nullptr,
                 const char* cookies = nullptr, Text* cookies_out = nullptr);

// The cookies that a response header text sets, as "name=value;" entries in header order: the
// value of each "Set-Cookie: " header up to its first ";".
Text collect_set_cookies(const char* headers);

namespace detail {
// The twelve parameters of WebRequest, and the request object's ProgID so that a test can make
// creation fail.
struct WebRequestParams {
  Text* url = nullptr;
  Text* method = nullptr;
  const char* proxy = nullptr;
  const char* proxy_user = nullptr;
  const char* proxy_password = nullptr;
  const char* referrer = nullptr;
  const char* body = nullptr;
  std::optional<int32_t> timeout_seconds;
  Text* response_headers = nullptr;
  Text* location = nullptr;
  const char* cookies = nullptr;
  Text* cookies_out = nullptr;
};
extern const char WEB_REQUEST_PROGID[];
Bytes web_request(const WebRequestParams& p, const char* prog_id = WEB_REQUEST_PROGID);
}  // namespace detail

}  // namespace tambrel
