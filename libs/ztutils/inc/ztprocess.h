// Starting programs and loading dynamic libraries.
//
// The calls keep the shape of the platform calls the engine was first written against; on
// Linux they stand on posix_spawn, waitpid and dlopen.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <vector>

namespace zt {

using HANDLE = void*;
using HMODULE = void*;

// Start flags of startProcess.
//
// SP_WAIT: startProcess returns only after the program ended; its exit code is then known.
// SP_NOWINDOW: the program shows nothing: no window (Windows), and its standard input, output
//   and error are the null device.
// SP_DETACHED: the program runs away from the caller's terminal and its signals: in a session of
//   its own (POSIX_SPAWN_SETSID), or without the caller's console and Ctrl+C (Windows).
// The script flag "w" is SP_WAIT, "h" is SP_DETACHED | SP_NOWINDOW (0x2008).
// Every program starts with an empty signal mask and the caller's environment.
constexpr unsigned SP_WAIT = 0x0002;
constexpr unsigned SP_NOWINDOW = 0x0008;
constexpr unsigned SP_DETACHED = 0x2000;

// The exit code reported for a program that is still running.
constexpr int STILL_ACTIVE = 259;

// Starts exe with the parameter text params (split as splitCommandLine does). A name without a
// folder is looked for in the folders of PATH; a name with a folder is found without regard to
// case. workingDirectory empty keeps the caller's. processId, threadHandle and processHandle
// may be null; a handle given back must be closed with closeHandle (the thread handle is
// always null here). False when the program could not be started.
ZTUTILS_API bool startProcess(const string& exe, const string& params, unsigned flags, unsigned long* processId,
                              HANDLE* threadHandle, HANDLE* processHandle, const string& workingDirectory);

// The exit code of the process: STILL_ACTIVE while it runs, 128 + the signal number when a
// signal ended it. False for a null handle or when the code cannot be learned.
ZTUTILS_API bool getExitCodeProcess(HANDLE process, int& exitCode);

// Releases a handle of startProcess. A program still running is collected later, when it has
// ended (at the next startProcess or closeHandle), so it never stays behind as a zombie.
ZTUTILS_API bool closeHandle(HANDLE handle);

// Splits a parameter text into arguments: blanks and tabs separate them, double quotes group
// (and are removed), 2n backslashes before a quote give n backslashes, 2n+1 give n and a
// literal quote; other backslashes are kept as they are.
ZTUTILS_API std::vector<string> splitCommandLine(const string& params);

// Stand-ins for the platform's library calls. LoadLibraryW loads the library (dlopen with
// RTLD_NOW | RTLD_LOCAL; a name with a folder is found without regard to case) and gives its
// handle, null when the file is missing or is no library. FreeLibrary gives it back.
ZTUTILS_API HMODULE LoadLibraryW(const char16_t* fileName);
ZTUTILS_API bool FreeLibrary(HMODULE module);

} // namespace zt
