// The clock: local time from the system, to the second.
#include <windows.h>

#include "runtime/datetime.h"

namespace tambrel {

double now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return datetime_from_parts({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond});
}

}  // namespace tambrel
