#pragma once
// No exception may unwind through Qt: every handler runs inside Guarded, which hands an
// error to the application's handler (a message box with the error's text) and returns.

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace tk {

// Shows an error's message; tests replace it to see what the user would be shown.
void SetErrorHandler(std::function<void(const std::string&)> handler);
void HandleError(const std::string& message);

// Runs f; any error is shown through the application's handler. An abort (rt::EAbort) is
// silent, as it is meant to be.
void Guarded(const std::function<void()>& f) noexcept;
// As Guarded, but the error is shown once the current event has returned: for paint
// events, where a modal box would let the next paint run, fail and open another box.
void GuardedLater(const std::function<void()>& f) noexcept;

// Calls f with the arguments it takes: all of them, or none.
template <class F, class... A> void CallFitting(const F& f, A&&... args) {
    if constexpr (std::is_invocable_v<const F&, A...>)
        f(std::forward<A>(args)...);
    else
        f();
}

// Wraps a handler so that it is always guarded: use it for every connection. A handler
// that takes no arguments may serve a signal that has some.
template <class F> auto Guard(F f) {
    return [f = std::move(f)](auto&&... args) {
        Guarded([&] { CallFitting(f, std::forward<decltype(args)>(args)...); });
    };
}

} // namespace tk
