#pragma once
// Boxed calls of TEVDataAcquisitionProtocol by selector: arguments and results as number objects and
// objects, the form in which invocations carry them between threads and over the wire. Used by the capture
// thread's mirror of its centre and by whatever answers invocations in the agent's place. Stateless.

#include "acquisition/AcquisitionSelectors.h"

#include <QVariant>
#include <QVariantList>

class TEVDataAcquisitionProtocol;

namespace acquisitiondispatch {

// Performs `row` on `centre`. Arguments are unboxed by the row's kinds (a missing argument or one of the
// wrong kind reads as 0, NO or nil); a scalar result is boxed by its kind (Bool, Count = unsigned,
// Signed, Double), an object result passes as the protocol gives it (nil for none), a void operation gives
// nil. A null centre, or an optional operation of a centre that has none, gives `emptyResult(row)`.
QVariant perform(TEVDataAcquisitionProtocol* centre, const AcquisitionSelector& row, const QVariantList& arguments);

// Nil for void and object results, else the boxed 0, NO or 0.0 of the result's kind.
QVariant emptyResult(const AcquisitionSelector& row);

// `value` boxed as a number of `kind` (Bool, Count, Signed or Double); other kinds pass it unchanged.
QVariant box(AcquisitionValueKind kind, const QVariant& value);

} // namespace acquisitiondispatch
