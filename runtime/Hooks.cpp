#include "runtime/Hooks.h"

#include <cstdio>

namespace rt {

namespace {
std::function<void()>& PumpHook() {
    static std::function<void()> hook;
    return hook;
}
std::function<void(const std::string&)>& MessageHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}
std::function<bool(const std::string&)>& QuestionHook() {
    static std::function<bool(const std::string&)> hook;
    return hook;
}
} // namespace

void ProcessMessages() {
    if (auto& h = PumpHook()) h();
}
void SetProcessMessagesHook(std::function<void()> hook) {
    PumpHook() = std::move(hook);
}

void ShowMessage(const std::string& text) {
    if (auto& h = MessageHook())
        h(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}
void SetShowMessageHook(std::function<void(const std::string&)> hook) {
    MessageHook() = std::move(hook);
}

bool AskYesNo(const std::string& text) {
    if (auto& h = QuestionHook()) return h(text);
    std::fprintf(stderr, "%s\n", text.c_str());
    return false;
}
void SetAskYesNoHook(std::function<bool(const std::string&)> hook) {
    QuestionHook() = std::move(hook);
}

} // namespace rt
