#pragma once
// Hooks through which lower layers reach the windowing toolkit: letting pending window
// events run, and message boxes. Without a toolkit they do nothing (messages go to stderr,
// questions are answered No).

#include <functional>
#include <string>

namespace rt {

void ProcessMessages();
void SetProcessMessagesHook(std::function<void()> hook);

// A plain message with one OK button.
void ShowMessage(const std::string& text);
void SetShowMessageHook(std::function<void(const std::string&)> hook);

// The information-kind question with the buttons "はい(&Y)" and "いいえ(&N)" and the caption
// "情報"; true for Yes.
bool AskYesNo(const std::string& text);
void SetAskYesNoHook(std::function<bool(const std::string&)> hook);

} // namespace rt
