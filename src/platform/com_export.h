// How the in-process server's entry points are exported: on Windows by the
// module-definition file, elsewhere by default visibility (the version
// script then keeps exactly the listed names).
#pragma once

#ifdef _WIN32
#define KORVANE_COM_EXPORT
#else
#define KORVANE_COM_EXPORT __attribute__((visibility("default")))
#endif
