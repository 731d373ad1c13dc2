#include "ztplatform.h"

#include <mutex>

#if defined(_WIN32)
#include <windows.h> // after ztplatform.h: the system header defines the MB_ and ID names as macros
#endif

namespace zt {

namespace {
std::mutex gHandlerLock;
messageBoxHandler& handlerSlot() {
    static messageBoxHandler handler;
    return handler;
}
} // namespace

HWND mainHWND() { return nullptr; }

messageBoxHandler setMessageBoxHandler(messageBoxHandler handler) {
    std::lock_guard guard(gHandlerLock);
    messageBoxHandler previous = std::move(handlerSlot());
    handlerSlot() = std::move(handler);
    return previous;
}

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, unsigned flags) {
    messageBoxHandler handler;
    {
        std::lock_guard guard(gHandlerLock);
        handler = handlerSlot();
    }
    if (!handler) {
#if defined(_WIN32)
        // No handler installed: the system shows the box.
        return ::MessageBoxW(static_cast<::HWND>(owner), reinterpret_cast<const wchar_t*>(text),
                             reinterpret_cast<const wchar_t*>(caption), flags);
#else
        return 0;
#endif
    }
    return handler(owner, string(text ? text : u""), string(caption ? caption : u""), flags);
}

std::vector<int> messageBoxButtons(unsigned flags) {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
    }
}

namespace {
struct answerName {
    int id;
    const char16_t* name;
};
constexpr answerName kAnswers[] = {
    {IDOK, u"ok"},         {IDCANCEL, u"cancel"}, {IDABORT, u"abort"}, {IDRETRY, u"retry"},
    {IDIGNORE, u"ignore"}, {IDYES, u"yes"},       {IDNO, u"no"},
};
} // namespace

string messageBoxAnswerName(int answer) {
    for (const answerName& a : kAnswers)
        if (a.id == answer) return a.name;
    return string();
}

int messageBoxAnswerFromName(const string& word) {
    string w = word;
    w.trim().toLower();
    for (const answerName& a : kAnswers)
        if (w == a.name) return a.id;
    return 0;
}

string messageBoxIconName(unsigned flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP: return u"stop";
    case MB_ICONQUESTION: return u"question";
    case MB_ICONEXCLAMATION: return u"exclamation";
    case MB_ICONINFORMATION: return u"information";
    default: return string();
    }
}

} // namespace zt
