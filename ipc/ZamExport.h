// Symbol visibility for the shared objects: everything is hidden unless marked.
#ifndef ZAM_EXPORT_H
#define ZAM_EXPORT_H

#if defined(__GNUC__)
#define ZAM_API __attribute__((visibility("default")))
// For private members of an exported class: kept out of the shared object's interface.
#define ZAM_HIDDEN __attribute__((visibility("hidden")))
#else
#define ZAM_API
#define ZAM_HIDDEN
#endif

#endif
