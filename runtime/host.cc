// Host lookup to dotted IPv4 text. Numeric text is kept as the user wrote it
// (127.1 stays 127.1) so logs and file names show the configured form.
#include "runtime/host.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

#include "runtime/text.h"

int trGetip(const char* name, char* dst) {
  if (dst == nullptr) return 0;
  if (name == nullptr) {
    dst[0] = '\0';
    return 0;
  }
  if (dst != name) dst[0] = '\0';
  // 255.255.255.255 is inet_addr's error value, so it falls through to the
  // lookup, which understands numeric text too.
  if (inet_addr(name) != INADDR_NONE) {
    if (dst != name) memmove(dst, name, strlen(name) + 1);
    return 1;
  }
  const hostent* h = gethostbyname(name);
  if (h == nullptr || h->h_addrtype != AF_INET || h->h_addr_list[0] == nullptr) {
    dst[0] = '\0';
    return 0;
  }
  const unsigned char* a = reinterpret_cast<const unsigned char*>(h->h_addr_list[0]);
  trf(dst, 16, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return 1;
}

int trNetinit() { return 1; }
