/* The contract of the external search library "909/DVSNETClient.so", as this program calls it.
 * Every argument of the callback is pointer-sized, so that the contract holds on 64-bit
 * systems; a null text or MAC reads as empty. */
#ifndef IPCAM_DVSNET_H
#define IPCAM_DVSNET_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called once per server found, on a thread of the library. */
typedef void (*DVSNET_FoundServer)(intptr_t unused1, const char* name, intptr_t unused3, const char* ip,
                                   const unsigned char* mac6, intptr_t port, intptr_t port2, const char* mask,
                                   const char* gateway, const char* auxText, const char* dns,
                                   intptr_t auxWord, intptr_t auxValue, intptr_t dhcp, void* context);

/* Starts one search of timeMs milliseconds on a thread of the library and returns at once:
 * 0 when it started. The program calls it with 3000, 1, its callback, its context and 0. */
typedef int (*DVSNET_SearchServers_t)(intptr_t timeMs, intptr_t flag, DVSNET_FoundServer found, void* context,
                                      intptr_t reserved);
/* Ends the search; when it returns, no callback runs and none can start. */
typedef void (*DVSNET_StopSearch_t)(void);

#ifdef __cplusplus
}
#endif

#endif
