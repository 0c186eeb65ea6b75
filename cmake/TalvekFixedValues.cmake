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

# Self-update: the feed base (an https URL of the update host whose path ends
# in "/talvek-desktop"); the feed is base + "/<channel>/linux-x64/".
set(TALVEK_UPDATE_FEED_BASE "https://updates.talvek.chat/talvek-desktop" CACHE STRING
    "Base URL of the update feed (https, path ending in /talvek-desktop)")
if(NOT TALVEK_UPDATE_FEED_BASE MATCHES "^https://[a-z0-9]([a-z0-9.-]*[a-z0-9])?(:[0-9]+)?(/[A-Za-z0-9._~-]+)*/talvek-desktop$")
  message(FATAL_ERROR "TALVEK_UPDATE_FEED_BASE must be an https URL ending in /talvek-desktop, got '${TALVEK_UPDATE_FEED_BASE}'")
endif()

set(TALVEK_FIXED_VALUES_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fixed_values.h.in ${TALVEK_FIXED_VALUES_DIR}/talvek/fixed_values.h @ONLY)
add_library(talvek_fixed_values INTERFACE)
target_include_directories(talvek_fixed_values INTERFACE ${TALVEK_FIXED_VALUES_DIR})

# The trusted update key: a DER SubjectPublicKeyInfo (RSA) under the key id
# "tv-desktop-2026-11", compiled into the program behind the marker
# "TALVEKTRUSTKEY1". Without one given, a development key pair is made in the
# build tree (its private half never enters the repository; tests and the
# feed tooling sign with it); a release configuration refuses that key.
set(TALVEK_TRUSTED_KEY_DER "" CACHE FILEPATH "DER public key trusted for updates (empty: a development key)")
option(TALVEK_RELEASE "A release build: refuses the development update key" OFF)
if(TALVEK_TRUSTED_KEY_DER)
  set(_trusted_der ${TALVEK_TRUSTED_KEY_DER})
  set(TALVEK_DEV_SIGNING_KEY "")
else()
  if(TALVEK_RELEASE)
    message(FATAL_ERROR "a release build needs TALVEK_TRUSTED_KEY_DER: the development update key is refused")
  endif()
  set(_dev_dir ${CMAKE_BINARY_DIR}/dev-keys)
  set(TALVEK_DEV_SIGNING_KEY ${_dev_dir}/update-dev.key)
  set(_trusted_der ${_dev_dir}/update-dev.der)
  if(NOT EXISTS ${_trusted_der})
    find_program(OPENSSL_PROGRAM openssl REQUIRED)
    file(MAKE_DIRECTORY ${_dev_dir})
    execute_process(COMMAND ${OPENSSL_PROGRAM} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072
                            -out ${TALVEK_DEV_SIGNING_KEY}
                    RESULT_VARIABLE _key_result OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${OPENSSL_PROGRAM} pkey -in ${TALVEK_DEV_SIGNING_KEY} -pubout -outform DER
                            -out ${_trusted_der}
                    RESULT_VARIABLE _der_result OUTPUT_QUIET ERROR_QUIET)
    if(NOT _key_result EQUAL 0 OR NOT _der_result EQUAL 0)
      message(FATAL_ERROR "could not make the development update key with ${OPENSSL_PROGRAM}")
    endif()
  endif()
endif()
file(READ ${_trusted_der} _der_hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," TALVEK_TRUSTED_KEY_BYTES "${_der_hex}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/trusted_key.cpp.in ${TALVEK_FIXED_VALUES_DIR}/talvek/trusted_key.cpp @ONLY)
set(TALVEK_TRUSTED_KEY_SOURCE ${TALVEK_FIXED_VALUES_DIR}/talvek/trusted_key.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_trusted_der})
