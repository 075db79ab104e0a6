#include "photos/JpegErrorGuard.h"

#include <cstdio>
#include <type_traits>

#include "core/Errors.h"

namespace patrimonio::jpeg {

static_assert(std::is_standard_layout_v<ErrorGuard>, "callbacks cast the manager to the guard");

ErrorGuard::ErrorGuard() {
    jpeg_std_error(&manager_);
    manager_.error_exit = &ErrorGuard::onFatal;
    manager_.emit_message = &ErrorGuard::onMessage;
    manager_.output_message = &ErrorGuard::onOutput;
}

void ErrorGuard::fail(const char* what) const {
    throw AppError(
        QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromLocal8Bit(message_)));
}

void ErrorGuard::onFatal(j_common_ptr info) {
    auto* guard = reinterpret_cast<ErrorGuard*>(info->err);
    (*info->err->format_message)(info, guard->message_);
    std::longjmp(guard->jump_, 1);
}

void ErrorGuard::stop(j_common_ptr info, const char* message) {
    auto* guard = reinterpret_cast<ErrorGuard*>(info->err);
    std::snprintf(guard->message_, sizeof guard->message_, "%s", message);
    std::longjmp(guard->jump_, 1);
}

void ErrorGuard::onMessage(j_common_ptr, int) {}

void ErrorGuard::onOutput(j_common_ptr) {}

}  // namespace patrimonio::jpeg
