#include "platform/host/ProcessorTicks.h"

#include <charconv>
#include <cstring>

namespace platform {

namespace {

// Processor numbers beyond this are taken as a corrupt line rather than grown into a huge array.
constexpr quint64 kMaximumProcessors = 65536;

bool parseNumber(const char*& cursor, const char* end, quint64* value)
{
    while (cursor < end && (*cursor == ' ' || *cursor == '\t'))
        ++cursor;
    const auto [next, error] = std::from_chars(cursor, end, *value);
    if (error != std::errc() || next == cursor)
        return false;
    cursor = next;
    return true;
}

} // namespace

std::optional<std::vector<ProcessorTicks>> ProcessorTicks::read(const HostRoot& root)
{
    const auto text = root.readFile(QStringLiteral("/proc/stat"));
    return text ? parse(*text) : std::nullopt;
}

std::optional<std::vector<ProcessorTicks>> ProcessorTicks::parse(const QByteArray& text)
{
    std::vector<ProcessorTicks> result;
    const char* cursor = text.constData();
    const char* const end = cursor + text.size();
    while (cursor < end) {
        const char* lineEnd = static_cast<const char*>(memchr(cursor, '\n', size_t(end - cursor)));
        if (!lineEnd)
            lineEnd = end;
        // "cpuN user nice system idle iowait irq softirq steal guest guest_nice"; the aggregate "cpu " line
        // is skipped, the sampler averages the processors itself.
        if (lineEnd - cursor > 3 && memcmp(cursor, "cpu", 3) == 0 && cursor[3] >= '0' && cursor[3] <= '9') {
            const char* p = cursor + 3;
            quint64 number = 0;
            quint64 fields[8] = {};
            int count = 0;
            if (parseNumber(p, lineEnd, &number) && number < kMaximumProcessors) {
                while (count < 8 && parseNumber(p, lineEnd, &fields[count]))
                    ++count;
            }
            // Kernels since 2.6.11 print at least eight fields; fewer is a line we do not understand.
            if (count >= 4) {
                if (result.size() <= number)
                    result.resize(size_t(number) + 1);
                ProcessorTicks& ticks = result[size_t(number)];
                ticks.user = fields[0];
                ticks.nice = fields[1];
                ticks.system = fields[2] + fields[5] + fields[6] + fields[7];
                ticks.idle = fields[3] + fields[4];
                ticks.online = true;
            }
        }
        cursor = lineEnd + 1;
    }
    if (result.empty())
        return std::nullopt;
    return result;
}

} // namespace platform
