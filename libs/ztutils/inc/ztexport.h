// Export macros of the utility library.
#pragma once

#if defined(_WIN32)
#  if defined(ZTUTILS_BUILD)
#    define ZTUTILS_API __declspec(dllexport)
#  else
#    define ZTUTILS_API __declspec(dllimport)
#  endif
#else
#  define ZTUTILS_API __attribute__((visibility("default")))
#endif
