/* Test-only calls of the update client library. Not for the shell. */
#ifndef TALVEK_UPDATE_CLIENT_TESTING_H
#define TALVEK_UPDATE_CLIENT_TESTING_H

#ifdef __cplusplus
extern "C" {
#endif

/* For every later transfer: trust only the PEM file `ca_file` (null or ""
 * restores the system's CA bundle) and connect as `connect_to` says, in
 * libcurl's CONNECT_TO form "HOST:PORT:CONNECT-HOST:CONNECT-PORT" (null or
 * "" for none). Nothing else, the environment included, changes trust. */
void tuc_set_trust_for_testing(const char* ca_file, const char* connect_to);

#ifdef __cplusplus
}
#endif

#endif /* TALVEK_UPDATE_CLIENT_TESTING_H */
