// Symbol visibility of the IPC and logging stand-ins: everything is hidden unless marked.
#ifndef ZAM_IPC_EXPORT_H
#define ZAM_IPC_EXPORT_H

#if defined(__GNUC__)
#define ZAMIPC_API __attribute__((visibility("default")))
// For private members of an exported class: kept out of the shared object's interface.
#define ZAMIPC_HIDDEN __attribute__((visibility("hidden")))
#else
#define ZAMIPC_API
#define ZAMIPC_HIDDEN
#endif

#endif
