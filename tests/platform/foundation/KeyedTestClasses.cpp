#include "tests/platform/foundation/KeyedTestClasses.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"

namespace kelvaro::test {

void TestGauge::encodeWithCoder(platform::Coder& coder) const
{
    coder.encodeObject(name, QStringLiteral("name"));
    coder.encodeDouble(reading, QStringLiteral("reading"));
    coder.encodeFloat(ratio, QStringLiteral("ratio"));
    coder.encodeInt32(count, QStringLiteral("count"));
    coder.encodeInt64(total, QStringLiteral("total"));
    coder.encodeBool(enabled, QStringLiteral("enabled"));
    coder.encodeBytes(raw, QStringLiteral("raw"));
    coder.encodeObject(child, QStringLiteral("child"));
    coder.encodeArrayOfObjCType('i', samples.size(), samples.data());
    const void* colourAddresses[] = {&colour[0], &colour[1], &colour[2], &colour[3]};
    coder.encodeValuesOfObjCTypes("ffff", colourAddresses);
    const void* mixed[] = {&grade, &serial, &label, &extra};
    coder.encodeValuesOfObjCTypes("cQ*@", mixed);
}

void TestGauge::decodeInto(platform::Coder& coder)
{
    name = coder.decodeObjectOfClasses({QStringLiteral("NSString")}, QStringLiteral("name")).toString();
    reading = coder.decodeDoubleForKey(QStringLiteral("reading"));
    ratio = coder.decodeFloatForKey(QStringLiteral("ratio"));
    count = coder.decodeInt32ForKey(QStringLiteral("count"));
    total = coder.decodeInt64ForKey(QStringLiteral("total"));
    enabled = coder.decodeBoolForKey(QStringLiteral("enabled"));
    raw = coder.decodeBytesForKey(QStringLiteral("raw"));
    child = coder.decodeObjectForKey(QStringLiteral("child"));
    coder.decodeArrayOfObjCType('i', samples.size(), samples.data());
    void* colourAddresses[] = {&colour[0], &colour[1], &colour[2], &colour[3]};
    coder.decodeValuesOfObjCTypes("ffff", colourAddresses);
    void* mixed[] = {&grade, &serial, &label, &extra};
    coder.decodeValuesOfObjCTypes("cQ*@", mixed);
}

platform::ObjectRef TestGauge::decode(platform::Coder& coder)
{
    auto gauge = std::make_shared<TestGauge>();
    gauge->decodeInto(coder);
    return coder.hasFailed() ? nullptr : gauge;
}

platform::ObjectRef TestSubGauge::decode(platform::Coder& coder)
{
    auto gauge = std::make_shared<TestSubGauge>();
    gauge->decodeInto(coder);
    return coder.hasFailed() ? nullptr : gauge;
}

void TestRejecting::encodeWithCoder(platform::Coder& coder) const
{
    coder.encodeInt32(-1, QStringLiteral("version"));
}

KV_REGISTER_CLASS(QStringLiteral("KVTestGauge"), QStringLiteral("NSObject"), 0, &TestGauge::decode);
KV_REGISTER_CLASS(QStringLiteral("KVTestSubGauge"), QStringLiteral("KVTestGauge"), 0, &TestSubGauge::decode);
KV_REGISTER_CLASS(QStringLiteral("KVTestRejecting"), QStringLiteral("NSObject"), 0, [](platform::Coder& coder) -> platform::ObjectRef {
    if (coder.decodeInt32ForKey(QStringLiteral("version")) < 0)
        coder.failWithReason(QStringLiteral("KVTestRejecting of an unknown version"));
    return nullptr;
});

} // namespace kelvaro::test
