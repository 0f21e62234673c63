// SPDX-License-Identifier: GPL-3.0-or-later
// Every message box of the program goes through one replaceable function: the window shows a
// QMessageBox, tests record the text and answer for the user. Texts are CP932 byte strings.
#pragma once

#include "base/win_types.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// text, caption, MB_ flags -> IDOK / IDYES / IDNO
using MessageFunction =
    std::function<int(const std::string& text, const std::string& caption, unsigned type)>;

// Caption of the file, set and command messages.
inline constexpr std::string_view kAppTitle = "Otomaru";
// Caption of the sound device messages.
inline constexpr std::string_view kErrorCaption = "Error";

// Installs the process-wide message function and returns the previous one. Without one, every
// message is answered IDOK (or IDNO for a question) without being shown.
MessageFunction SetMessageFunction(MessageFunction fn);

// Shows a message through the installed function.
int MessageBoxA(const std::string& text, std::string_view caption, unsigned type);

// The file, set and command family: caption "Otomaru".
inline int AfxMessageBox(const std::string& text, unsigned type = MB_OK) {
    return MessageBoxA(text, kAppTitle, type);
}

// Installs a function for the lifetime of the object (tests, dialogs).
class ScopedMessageFunction {
public:
    explicit ScopedMessageFunction(MessageFunction fn)
        : m_prev(SetMessageFunction(std::move(fn))) {}
    ~ScopedMessageFunction() { SetMessageFunction(std::move(m_prev)); }
    ScopedMessageFunction(const ScopedMessageFunction&) = delete;
    ScopedMessageFunction& operator=(const ScopedMessageFunction&) = delete;

private:
    MessageFunction m_prev;
};

// A message kept to be shown later, as it was asked for.
struct HeldMessage {
    std::string text;
    std::string caption;
    unsigned type = MB_OK;
};

// While it lives, messages asked for on its thread are kept in `into` instead of being shown,
// and answered IDOK (IDNO for a question): work moved off the window's thread hands its
// messages back to be shown there, in the order the user would have seen them.
class ScopedMessageHold {
public:
    explicit ScopedMessageHold(std::vector<HeldMessage>& into);
    ~ScopedMessageHold();
    ScopedMessageHold(const ScopedMessageHold&) = delete;
    ScopedMessageHold& operator=(const ScopedMessageHold&) = delete;

private:
    std::vector<HeldMessage>* m_prev;
};
