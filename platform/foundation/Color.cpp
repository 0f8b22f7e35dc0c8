#include "platform/foundation/Color.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"

#include <QByteArrayList>

#include <cmath>

namespace platform {

namespace {

KV_REGISTER_CLASS(QStringLiteral("NSColor"), QStringLiteral("NSObject"), 0, &Color::decode);

bool isRGBSpace(qint64 space)
{
    return space == qint64(Color::Space::CalibratedRGB) || space == qint64(Color::Space::DeviceRGB);
}

bool isWhiteSpace(qint64 space)
{
    return space == qint64(Color::Space::CalibratedWhite) || space == qint64(Color::Space::DeviceWhite);
}

// Keyed archives keep the components as ASCII "r g b a" (alpha left out when 1) with a trailing NUL.
QByteArray componentText(std::initializer_list<float> components, float alpha)
{
    QByteArrayList parts;
    for (float c : components)
        parts.append(QByteArray::number(double(c), 'g', 10));
    if (alpha != 1.0f)
        parts.append(QByteArray::number(double(alpha), 'g', 10));
    return parts.join(' ') + '\0';
}

std::optional<QList<float>> parseComponents(QByteArray text)
{
    while (text.endsWith('\0'))
        text.chop(1);
    QList<float> components;
    for (const QByteArray& part : text.split(' ')) {
        if (part.isEmpty())
            continue;
        bool ok = false;
        const float v = part.toFloat(&ok);
        if (!ok || !std::isfinite(v))
            return std::nullopt;
        components.append(v);
    }
    return components;
}

} // namespace

Color::Color(Space space, float c0, float c1, float c2, float alpha)
    : space_(space), c_{c0, c1, c2}, alpha_(alpha)
{
}

std::shared_ptr<Color> Color::rgb(Space space, float red, float green, float blue, float alpha)
{
    return std::shared_ptr<Color>(new Color(space, red, green, blue, alpha));
}

std::shared_ptr<Color> Color::white(Space space, float white, float alpha)
{
    return std::shared_ptr<Color>(new Color(space, white, 0, 0, alpha));
}

QString Color::className() const
{
    return QStringLiteral("NSColor");
}

void Color::encodeWithCoder(Coder& coder) const
{
    if (coder.allowsKeyedCoding()) {
        coder.encodeInt32(qint32(space_), QStringLiteral("NSColorSpace"));
        if (isRGB())
            coder.encodeBytes(componentText({c_[0], c_[1], c_[2]}, alpha_), QStringLiteral("NSRGB"));
        else
            coder.encodeBytes(componentText({c_[0]}, alpha_), QStringLiteral("NSWhite"));
        return;
    }
    const qint8 space = qint8(space_);
    coder.encodeValueOfObjCType("c", &space);
    if (isRGB()) {
        const void* addresses[] = {&c_[0], &c_[1], &c_[2], &alpha_};
        coder.encodeValuesOfObjCTypes("ffff", addresses);
    } else {
        const void* addresses[] = {&c_[0], &alpha_};
        coder.encodeValuesOfObjCTypes("ff", addresses);
    }
}

ObjectRef Color::decode(Coder& coder)
{
    if (coder.allowsKeyedCoding()) {
        const qint32 space = coder.decodeInt32ForKey(QStringLiteral("NSColorSpace"));
        const bool rgbSpace = isRGBSpace(space);
        if (!rgbSpace && !isWhiteSpace(space)) {
            coder.failWithReason(QStringLiteral("NSColor colour space %1 is not supported").arg(space));
            return nullptr;
        }
        const auto components =
            parseComponents(coder.decodeBytesForKey(rgbSpace ? QStringLiteral("NSRGB") : QStringLiteral("NSWhite")));
        const qsizetype needed = rgbSpace ? 3 : 1;
        if (!components || components->size() < needed || components->size() > needed + 1) {
            coder.failWithReason(QStringLiteral("NSColor with bad components"));
            return nullptr;
        }
        const float alpha = components->size() > needed ? components->back() : 1.0f;
        if (rgbSpace)
            return rgb(Space(space), (*components)[0], (*components)[1], (*components)[2], alpha);
        return white(Space(space), (*components)[0], alpha);
    }

    qint8 space = 0;
    if (!coder.decodeValueOfObjCType("c", &space))
        return nullptr;
    if (isRGBSpace(space)) {
        float r = 0, g = 0, b = 0, a = 0;
        void* addresses[] = {&r, &g, &b, &a};
        if (!coder.decodeValuesOfObjCTypes("ffff", addresses))
            return nullptr;
        return rgb(Space(space), r, g, b, a);
    }
    if (isWhiteSpace(space)) {
        float w = 0, a = 0;
        void* addresses[] = {&w, &a};
        if (!coder.decodeValuesOfObjCTypes("ff", addresses))
            return nullptr;
        return white(Space(space), w, a);
    }
    coder.failWithReason(QStringLiteral("NSColor colour space %1 is not supported").arg(space));
    return nullptr;
}

} // namespace platform
