// A sensor history as a remote peer sends it (a keyed archive whose only class is TEVSensorHistory), and
// the same archive decoded generically, as the inspection tool and the history salvage see it.

#include "tests/fuzz/FuzzSupport.h"

#include "acquisition/TEVSensorHistory.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Values.h"

namespace values = platform::values;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const QByteArray bytes = fuzz::bytesOf(data, size);

    platform::UnarchiveOptions generic;
    generic.generic = true;
    const QVariant fields = platform::KeyedUnarchiver::unarchiveObjectWithData(bytes, generic);
    if (const auto map = values::toDictionary(fields))
        (void)TEVSensorHistory::createWithArchivedValues(*map);

    platform::UnarchiveOptions strict;
    strict.allowedClasses = {QStringLiteral("TEVSensorHistory")};
    const auto history = platform::objectAs<TEVSensorHistory>(
        values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(bytes, strict)));
    if (!history)
        return 0;
    (void)history->description();
    (void)history->rawValueDataBetweenNowAndDate(history->currentTime());
    const auto copy = history->copy();
    copy->setPresentRawValue(1);
    copy->discardOldestValuesWithCount(1);
    (void)platform::KeyedUnarchiver::unarchiveObjectWithData(
        platform::KeyedArchiver::archivedDataWithRootObject(values::fromObject(copy)), strict);
    return 0;
}
