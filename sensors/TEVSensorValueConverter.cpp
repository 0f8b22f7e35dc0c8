#include "sensors/TEVSensorValueConverter.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"

namespace {

KV_REGISTER_CLASS(QStringLiteral("TEVSensorValueConverter"), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVSensorValueConverter::createWithCoder(coder); });

} // namespace

double TEVSensorValueConverter::valueForRawSensorValue(qint64 rawValue) const
{
    switch (functionType_) {
    case Identity:
        return double(rawValue);
    case LinearFactor:
        return double(rawValue) * linearFactor_;
    default:
        return 0.0;
    }
}

std::shared_ptr<TEVSensorValueConverter> TEVSensorValueConverter::copy() const
{
    return std::make_shared<TEVSensorValueConverter>(*this);
}

QString TEVSensorValueConverter::description() const
{
    return QString::asprintf("f: %lld l: %f\n", static_cast<long long>(functionType_), linearFactor_);
}

bool TEVSensorValueConverter::operator==(const TEVSensorValueConverter& other) const
{
    return functionType_ == other.functionType_ && linearFactor_ == other.linearFactor_;
}

void TEVSensorValueConverter::encodeWithCoder(platform::Coder& coder) const
{
    coder.encodeValueOfObjCType("q", &functionType_);
    coder.encodeValueOfObjCType("d", &linearFactor_);
}

std::shared_ptr<TEVSensorValueConverter> TEVSensorValueConverter::createWithCoder(platform::Coder& coder)
{
    auto converter = std::make_shared<TEVSensorValueConverter>();
    if (!coder.decodeValueOfObjCType("q", &converter->functionType_)
        || !coder.decodeValueOfObjCType("d", &converter->linearFactor_)) {
        coder.failWithReason(QStringLiteral("TEVSensorValueConverter: truncated archive"));
        return nullptr;
    }
    return converter;
}
