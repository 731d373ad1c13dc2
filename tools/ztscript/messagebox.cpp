// The tool's message boxes: a preset answer (--answer), a question on the terminal, or, without
// a user at a terminal, the box printed to stderr and answered with its first button.
#include "answer.h"
#include "tool.h"

#include <ztplatform.h>
#include <ztsystem.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace ztscript_tool {

namespace {

bool gInteractive = true;

std::string buttonList(const std::vector<int>& buttons) {
    std::string list;
    for (int b : buttons) {
        if (!list.empty()) list += "/";
        list += zt::messageBoxAnswerName(b).toUtf8();
    }
    return list;
}

bool offers(const std::vector<int>& buttons, int answer) {
    for (int b : buttons)
        if (b == answer) return true;
    return false;
}

int answerBox(zt::HWND, const zt::string& text, const zt::string& caption, unsigned flags) {
    const std::vector<int> buttons = zt::messageBoxButtons(flags);
    const int first = buttons.empty() ? zt::IDOK : buttons.front();
    const std::string shown = "[" + caption.toUtf8() + "] " + text.toUtf8() + " (" + buttonList(buttons) + ")";

    if (presetAnswer() != messageAnswer::none) {
        int preset = zt::messageBoxAnswerFromName(zt::string(answerName(presetAnswer())));
        int answer = offers(buttons, preset) ? preset : first;
        std::cerr << "messagebox: " << shown << " -> " << zt::messageBoxAnswerName(answer).toUtf8() << "\n";
        return answer;
    }
    if (gInteractive && zt::isTerminal(stdin)) {
        for (;;) {
            std::cerr << "messagebox: " << shown << "? " << std::flush;
            std::string line;
            if (!std::getline(std::cin, line)) return first;
            if (line.empty()) return first;
            int answer = zt::messageBoxAnswerFromName(zt::string::fromUtf8(line));
            if (offers(buttons, answer)) return answer;
        }
    }
    std::cerr << "messagebox: " << shown << " -> " << zt::messageBoxAnswerName(first).toUtf8() << "\n";
    return first;
}

} // namespace

void installMessageBoxHandler(bool interactive) {
    gInteractive = interactive;
    zt::setMessageBoxHandler(&answerBox);
}

} // namespace ztscript_tool
