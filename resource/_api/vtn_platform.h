// What differs between the systems the plug-in is built for, in one place.
// Everything else in the plug-in is plain C++17.
#ifndef VTN_PLATFORM_H
#define VTN_PLATFORM_H

// The module's one export. A PE module exports only what is marked once anything
// is; ELF and Mach-O builds hide everything else by default visibility.
#if defined(_WIN32)
#define VTN_EXPORT __declspec(dllexport)
#else
#define VTN_EXPORT __attribute__((visibility("default")))
#endif

#endif
