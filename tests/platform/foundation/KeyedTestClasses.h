#pragma once
// Archivable classes for the keyed archiver tests: a gauge that uses keyed and sequential calls, a
// subclass of it, and a class whose decoder rejects its archive.

#include "platform/foundation/Archivable.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <array>

namespace kelvaro::test {

class TestGauge : public platform::Archivable {
public:
    QString name;
    double reading = 0;
    float ratio = 0;
    qint32 count = 0;
    qint64 total = 0;
    bool enabled = false;
    QByteArray raw;
    QVariant child;                       // keyed object
    std::array<qint32, 5> samples{};      // sequential old-style array "[5i]"
    std::array<float, 4> colour{};        // sequential "ffff"
    qint8 grade = 0;                      // sequential 'c'
    quint64 serial = 0;                   // sequential 'Q'
    QByteArray label;                     // sequential '*'
    QVariant extra;                       // sequential '@'

    QString className() const override { return QStringLiteral("KVTestGauge"); }
    void encodeWithCoder(platform::Coder& coder) const override;
    static platform::ObjectRef decode(platform::Coder& coder);

protected:
    void decodeInto(platform::Coder& coder);
};

class TestSubGauge final : public TestGauge {
public:
    QString className() const override { return QStringLiteral("KVTestSubGauge"); }
    static platform::ObjectRef decode(platform::Coder& coder);
};

class TestRejecting final : public platform::Archivable {
public:
    QString className() const override { return QStringLiteral("KVTestRejecting"); }
    void encodeWithCoder(platform::Coder& coder) const override;
};

} // namespace kelvaro::test
