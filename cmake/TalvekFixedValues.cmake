# Values compiled into the program, chosen at configure time and never read
# from the environment at run time. Code includes "talvek/fixed_values.h"
# through the interface target talvek_fixed_values.
set(TALVEK_SERVICE_HOST "app.talvek.chat" CACHE STRING
    "The service's host name (lower-case DNS name): media downloads go only there")

if(NOT TALVEK_SERVICE_HOST MATCHES "^[a-z0-9]([a-z0-9-]*[a-z0-9])?(\\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)+$")
  message(FATAL_ERROR "TALVEK_SERVICE_HOST must be a lower-case DNS name, got '${TALVEK_SERVICE_HOST}'")
endif()

# Embedded web content: the private origin the embed page is served from (a
# host of the service's own domain that is never published in DNS; only the
# web view's request interception answers it), the video provider's
# no-cookie embed host, the social provider's main host, and the six hosts a
# user may leave the embed for.
set(TALVEK_EMBED_HOST "embed.local.talvek.chat" CACHE STRING "Host of the private embed origin (never in DNS)")
set(TALVEK_VIDEO_EMBED_HOST "www.youtube-nocookie.com" CACHE STRING "The video provider's no-cookie embed host")
set(TALVEK_SOCIAL_HOST "www.instagram.com" CACHE STRING "The social provider's main (www) host")
set(TALVEK_PROVIDER_HOSTS "youtube.com;www.youtube.com;m.youtube.com;youtu.be;instagram.com;www.instagram.com"
    CACHE STRING "The six provider hosts links may open outside: video bare, www, m, short; social bare, www")

foreach(var TALVEK_EMBED_HOST TALVEK_VIDEO_EMBED_HOST TALVEK_SOCIAL_HOST)
  if(NOT ${var} MATCHES "^[a-z0-9]([a-z0-9-]*[a-z0-9])?(\\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)+$")
    message(FATAL_ERROR "${var} must be a lower-case DNS name, got '${${var}}'")
  endif()
endforeach()
list(LENGTH TALVEK_PROVIDER_HOSTS _provider_count)
if(NOT _provider_count EQUAL 6)
  message(FATAL_ERROR "TALVEK_PROVIDER_HOSTS must name six hosts")
endif()
string(REPLACE ";" "\", \"" TALVEK_PROVIDER_HOSTS_CXX "${TALVEK_PROVIDER_HOSTS}")

set(TALVEK_FIXED_VALUES_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fixed_values.h.in ${TALVEK_FIXED_VALUES_DIR}/talvek/fixed_values.h @ONLY)
add_library(talvek_fixed_values INTERFACE)
target_include_directories(talvek_fixed_values INTERFACE ${TALVEK_FIXED_VALUES_DIR})
