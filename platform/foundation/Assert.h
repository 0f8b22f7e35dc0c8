#pragma once
// Internal contract checks. A failed check logs its description with file and line; debug builds then
// abort (death tests cover that), release builds go on and, for KV_ASSERT_OR_RETURN, return the value.

#include "platform/foundation/Log.h"

namespace platform::detail {
[[noreturn]] void assertionAbort();
void assertionFailed(const char* file, int line, const char* description);
} // namespace platform::detail

#ifdef NDEBUG
#define KV_ASSERTION_FAILED(desc) ::platform::detail::assertionFailed(__FILE__, __LINE__, desc)
#else
#define KV_ASSERTION_FAILED(desc) \
    (::platform::detail::assertionFailed(__FILE__, __LINE__, desc), ::platform::detail::assertionAbort())
#endif

#define KV_ASSERT(cond, desc)             \
    do {                                  \
        if (!(cond)) {                    \
            KV_ASSERTION_FAILED(desc);    \
        }                                 \
    } while (0)

#define KV_ASSERT_OR_RETURN(cond, value, desc) \
    do {                                       \
        if (!(cond)) {                         \
            KV_ASSERTION_FAILED(desc);         \
            return value;                      \
        }                                      \
    } while (0)
