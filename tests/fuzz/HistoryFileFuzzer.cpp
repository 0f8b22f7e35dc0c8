// The long-term history file: read strictly with salvage, each history read the way the windows read it,
// and what was read written again, which must read back whole.

#include "tests/fuzz/FuzzSupport.h"

#include "acquisition/TEVSensorHistoryFile.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const auto read = TEVSensorHistoryFile::decode(fuzz::bytesOf(data, size));
    int histories = 0;
    for (const auto& computer : read.entries) {
        for (const auto& history : computer) {
            ++histories;
            (void)history->rawValueDataBetweenNowAndDate(history->currentTime());
            (void)history->description();
        }
    }
    if (read.entries.isEmpty())
        return 0;
    const auto again = TEVSensorHistoryFile::decode(TEVSensorHistoryFile::encode(read.entries));
    int reread = 0;
    for (const auto& computer : again.entries)
        reread += int(computer.size());
    if (again.status != TEVSensorHistoryFile::ReadResult::Status::Read || reread != histories) {
        std::fprintf(stderr, "history file: %d histories read, %d read back after writing them (%s)\n", histories,
                     reread, qPrintable(again.error));
        std::abort();
    }
    return 0;
}
