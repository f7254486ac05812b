// Symbol visibility of libZamTarvexMuxMsg: everything is hidden unless marked.
#ifndef TARVEX_EXPORT_H
#define TARVEX_EXPORT_H

#if defined(__GNUC__)
#define TARVEX_API __attribute__((visibility("default")))
// For private members of an exported class: kept out of the shared object's interface.
#define TARVEX_HIDDEN __attribute__((visibility("hidden")))
#else
#define TARVEX_API
#define TARVEX_HIDDEN
#endif

#endif
