#pragma once
// libjpeg reports a fatal error through a callback that must not return. Unwinding a C++
// exception through the C library is not portable, so the callback jumps back with longjmp to
// the one frame that called the library, and that frame raises AppError. Only trivially
// destructible state may live in the frames the jump leaves (the library's own and a lambda
// that just calls it). Warnings are dropped: a damaged or truncated photo still gives a picture.

#include <QString>
#include <csetjmp>

#include "photos/JpegLib.h"

namespace patrimonio::jpeg {

class ErrorGuard {
public:
    ErrorGuard();
    ErrorGuard(const ErrorGuard&) = delete;
    ErrorGuard& operator=(const ErrorGuard&) = delete;

    // What a codec struct's err member points to.
    jpeg_error_mgr* manager() { return &manager_; }

    // Runs call (a lambda calling libjpeg); raises AppError with `what` and the codec's own
    // message when the codec stops with a fatal error.
    template <class Call>
    void run(const char* what, Call&& call) {
        if (!attempt(call)) fail(what);
    }

    // Stops the codec from inside one of its callbacks as a fatal error with this message.
    [[noreturn]] static void stop(j_common_ptr info, const char* message);

private:
    template <class Call>
    bool attempt(Call& call) {
        if (setjmp(jump_) != 0) return false;
        call();
        return true;
    }
    [[noreturn]] void fail(const char* what) const;
    static void onFatal(j_common_ptr info);
    static void onMessage(j_common_ptr info, int level);
    static void onOutput(j_common_ptr info);

    jpeg_error_mgr manager_{};  // first member: the callbacks find the guard from it
    std::jmp_buf jump_{};
    char message_[JMSG_LENGTH_MAX]{};
};

}  // namespace patrimonio::jpeg
