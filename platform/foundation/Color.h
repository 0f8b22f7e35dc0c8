#pragma once
// Color: an archivable colour stored as the original colour class stores it ("NSColor"): a colour space
// and float components, RGB or grey, calibrated or device. Immutable value object; any thread. Needs no Qt
// Gui: whoever draws converts the components.

#include "platform/foundation/Archivable.h"

#include <memory>

namespace platform {

class Color final : public Archivable {
public:
    // The codes both archive kinds store ("c" sequentially, "NSColorSpace" keyed).
    enum class Space : qint32 { CalibratedRGB = 1, DeviceRGB = 2, CalibratedWhite = 3, DeviceWhite = 4 };

    static std::shared_ptr<Color> rgb(Space space, float red, float green, float blue, float alpha = 1.0f);
    static std::shared_ptr<Color> white(Space space, float white, float alpha = 1.0f);
    // The registered decoder: null (with the coder failed) for an unsupported space or bad components.
    static ObjectRef decode(Coder& coder);

    Space colorSpace() const { return space_; }
    bool isRGB() const { return space_ == Space::CalibratedRGB || space_ == Space::DeviceRGB; }
    // RGB colours: the channels; grey colours answer their white level for each.
    float red() const { return c_[0]; }
    float green() const { return isRGB() ? c_[1] : c_[0]; }
    float blue() const { return isRGB() ? c_[2] : c_[0]; }
    // Grey colours: the level; RGB colours answer 0.
    float whiteLevel() const { return isRGB() ? 0.0f : c_[0]; }
    float alpha() const { return alpha_; }

    QString className() const override;
    void encodeWithCoder(Coder& coder) const override;

private:
    Color(Space space, float c0, float c1, float c2, float alpha);

    Space space_;
    float c_[3];
    float alpha_;
};

} // namespace platform
