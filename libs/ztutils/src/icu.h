// ICU on Linux, loaded when a text first needs it: case mapping beyond ASCII, the ANSI code
// page's upper half and the UTF-8 conversion of the code-page calls. Most runs meet only ASCII,
// and a program that loads ICU when it starts pays for mapping and relocating it on every start
// (about a tenth of a one-line script's run). The library loaded is the one the build used.
#pragma once

#if !defined(_WIN32)

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

namespace zt::icu {

// The ICU functions this library uses, with the signatures of the headers it was built with.
struct functions {
    decltype(&::u_tolower) toLower;
    decltype(&::u_toupper) toUpper;
    decltype(&::ucnv_open) open;
    decltype(&::ucnv_close) close;
    decltype(&::ucnv_reset) reset;
    decltype(&::ucnv_toUChars) toUChars;
    decltype(&::ucnv_setToUCallBack) setToUCallBack;
    decltype(&::UCNV_TO_U_CALLBACK_STOP) callbackStop;
    decltype(&::u_strFromUTF8) fromUtf8;
    decltype(&::u_strFromUTF8WithSub) fromUtf8WithSub;
};

// The functions, loaded on the first call (thread-safe). Throws zt::exception when the library
// or one of its functions cannot be found: the installation is broken.
const functions& get();

} // namespace zt::icu

#endif
