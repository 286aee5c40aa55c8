#pragma once
// Runs a piece of clean-up whatever ends a scope, unless dismissed first.

#include <utility>

namespace rt {

template <class F> class TScopeExit {
public:
    explicit TScopeExit(F f) : Fn(std::move(f)) {}
    ~TScopeExit() {
        if (Armed) Fn();
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    void Dismiss() { Armed = false; }

private:
    F Fn;
    bool Armed = true;
};

} // namespace rt
