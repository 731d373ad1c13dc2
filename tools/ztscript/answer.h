// The answer a message box gives when the tool runs a script without a user at the screen.
//
// "ztscript run --answer WORD" stores the word here before the script runs; the message-box
// handler of the tool reads it instead of waiting for a button press.
#pragma once

#include <string>

namespace ztscript_tool {

enum class messageAnswer { none, ok, cancel, yes, no, retry };

// The preset answer of this process (none until --answer sets one).
inline messageAnswer& presetAnswer() {
    static messageAnswer answer = messageAnswer::none;
    return answer;
}

// "ok", "cancel", "yes", "no" or "retry" (lower case as written on the command line).
inline bool parseAnswer(const std::string& word, messageAnswer& answer) {
    if (word == "ok") answer = messageAnswer::ok;
    else if (word == "cancel") answer = messageAnswer::cancel;
    else if (word == "yes") answer = messageAnswer::yes;
    else if (word == "no") answer = messageAnswer::no;
    else if (word == "retry") answer = messageAnswer::retry;
    else return false;
    return true;
}

inline const char* answerName(messageAnswer answer) {
    switch (answer) {
    case messageAnswer::ok: return "ok";
    case messageAnswer::cancel: return "cancel";
    case messageAnswer::yes: return "yes";
    case messageAnswer::no: return "no";
    case messageAnswer::retry: return "retry";
    case messageAnswer::none: break;
    }
    return "";
}

} // namespace ztscript_tool
