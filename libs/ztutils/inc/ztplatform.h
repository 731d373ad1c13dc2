// Stand-ins for the window system: the owner window of dialogs and the modal message box.
//
// A host that asks the user its own way installs a message-box handler with
// setMessageBoxHandler; MessageBoxW hands every box to it. Without a handler, Windows shows the
// system's box; elsewhere nothing is shown and the answer is 0, as the platform call gives when it
// cannot show a box.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <functional>
#include <vector>

namespace zt {

using HWND = void*;

// The host's main window: the owner of message boxes. There is none here.
ZTUTILS_API HWND mainHWND();

// Button sets (the low four bits of the flags).
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_ABORTRETRYIGNORE = 0x02;
constexpr unsigned MB_YESNOCANCEL = 0x03;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_RETRYCANCEL = 0x05;
constexpr unsigned MB_TYPEMASK = 0x0F;

// Icons (bits 4 to 7 of the flags).
constexpr unsigned MB_ICONSTOP = 0x10;
constexpr unsigned MB_ICONERROR = MB_ICONSTOP;
constexpr unsigned MB_ICONHAND = MB_ICONSTOP;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_ICONASTERISK = MB_ICONINFORMATION;
constexpr unsigned MB_ICONMASK = 0xF0;

// Answers: the button that closed the box.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a box and returns the answer code (one of the ID... values, or 0 when no box could be
// shown). Called on the thread that runs the script; the call blocks that thread.
using messageBoxHandler = std::function<int(HWND owner, const string& text, const string& caption, unsigned flags)>;

// Installs the handler (an empty one removes it) and returns the previous one.
ZTUTILS_API messageBoxHandler setMessageBoxHandler(messageBoxHandler handler);

// The platform call: hands the box to the installed handler; 0 when there is none.
ZTUTILS_API int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, unsigned flags);

// The answer codes of the buttons that a box with these flags shows, in order: the first is the
// default button (MB_OK gives {IDOK}, MB_YESNOCANCEL gives {IDYES, IDNO, IDCANCEL}).
ZTUTILS_API std::vector<int> messageBoxButtons(unsigned flags);

// "ok", "cancel", "abort", "retry", "ignore", "yes", "no" for the answer codes, "" otherwise.
ZTUTILS_API string messageBoxAnswerName(int answer);
// The answer code of such a word (case-insensitive, blanks around it ignored); 0 when unknown.
ZTUTILS_API int messageBoxAnswerFromName(const string& word);
// "stop", "question", "exclamation", "information" for the icon bits, "" for none.
ZTUTILS_API string messageBoxIconName(unsigned flags);

} // namespace zt
