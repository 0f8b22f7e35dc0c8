#include "platform/foundation/Assert.h"

#include <cstdlib>

namespace platform::detail {

void assertionAbort()
{
    std::abort();
}

void assertionFailed(const char* file, int line, const char* description)
{
    log(QStringLiteral("Assertion failed: %1 (%2:%3)\n")
            .arg(QString::fromUtf8(description), QString::fromUtf8(file))
            .arg(line));
}

} // namespace platform::detail
