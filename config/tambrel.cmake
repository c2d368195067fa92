# Deployment settings shared by the desktop tool's build and the stamp service's build.
# This file is the only place these values are written down: the tool stores the keys and the
# update address only in pair-coded form (generated at build time), and the service reads the
# same values to answer the update check.

# host[:port] of the stamp service; the tool talks plain HTTP to it.
set(TAMBREL_SERVICE_HOST "127.0.0.1:8077" CACHE STRING "host:port of the stamp service")

# Key of the pair code (exactly 18 bytes) and key of the update reply (exactly 21 bytes).
set(TAMBREL_PAIR_KEY "TambrelSealKey2026")
set(TAMBREL_REPLY_KEY "SealReplyKey-2026#v10")

# Beginning of the update address (exactly 28 bytes for the default host); the tool appends
# "md5.php?message=kwpn".
set(TAMBREL_UPDATE_PREFIX "http://${TAMBREL_SERVICE_HOST}/check/")
set(TAMBREL_HOME_URL "http://${TAMBREL_SERVICE_HOST}/")
set(TAMBREL_DOWNLOAD_URL "http://${TAMBREL_SERVICE_HOST}/download")

string(LENGTH "${TAMBREL_PAIR_KEY}" _len)
if(NOT _len EQUAL 18)
  message(FATAL_ERROR "TAMBREL_PAIR_KEY must be 18 bytes")
endif()
string(LENGTH "${TAMBREL_REPLY_KEY}" _len)
if(NOT _len EQUAL 21)
  message(FATAL_ERROR "TAMBREL_REPLY_KEY must be 21 bytes")
endif()
