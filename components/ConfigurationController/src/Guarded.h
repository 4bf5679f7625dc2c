// Every function the library hands out is called from C-style code: no C++ exception may
// leave it. An allocation failure inside an operation becomes the operation's failure value.
#pragma once

namespace configctl {

/// Runs `body`; when it throws, yields `fallback` instead.
template <typename R, typename F> R guarded(R fallback, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

/// Runs `body`, swallowing anything it throws.
template <typename F> void guardedVoid(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

} // namespace configctl
