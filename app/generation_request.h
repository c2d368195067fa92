// The two addresses of a stamp generation: the rendering request built from the stamp text,
// template and size, and the picture address taken from the service's reply.
#pragma once

#include <cstdint>

#include "runtime/values.h"

namespace tambrel::app {

// The middle of text between startMarker and endMarker, searching from *position (from the
// start when below 1); *position receives the position just after the start marker.
Text textBetween(const char* text, const char* startMarker, const char* endMarker,
                 int32_t* position);

// GBK text as UTF-8 with every byte but the unreserved characters percent-encoded, so that
// "&", "=", "#", "+" and spaces in a stamp text stay part of the value.
Text percentEncode(const char* gbk);

// "0.1" … "0.9", "1": n / 10 as a float, printed without trailing zeros.
Text rndText(int32_t n);

// "http://" + host + "/aosbegin.php?text=" … "&rnd=" with text and size percent-encoded.
Text buildGenerateUrl(const char* host, const char* stampText, const char* templateId,
                      const char* sizeText, int32_t n);

// "http://" + host + the path between "<outputimg>." and "</outputimg>"; null when the reply
// lacks either marker or the path is empty, so that nothing is fetched from the bare host.
Text pictureUrlFromReply(const char* host, const char* reply);

}  // namespace tambrel::app
