#include "platform/desktop/widgets/WindowShape.h"

#include "platform/desktop/widgets/WindowHints.h"

#include <QVector>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <algorithm>

namespace platform {
namespace {

// The shape extension's request, as its protocol lays it out (the header is filled in by xcb).
struct ShapeRectanglesRequest {
    std::uint8_t majorOpcode;
    std::uint8_t minorOpcode;
    std::uint16_t length;
    std::uint8_t operation;
    std::uint8_t destinationKind;
    std::uint8_t ordering;
    std::uint8_t pad;
    std::uint32_t destinationWindow;
    std::int16_t xOffset;
    std::int16_t yOffset;
};
static_assert(sizeof(ShapeRectanglesRequest) == 16);

constexpr std::uint8_t kShapeRectangles = 1;
constexpr std::uint8_t kShapeMask = 2;
constexpr std::uint8_t kOperationSet = 0;
constexpr std::uint8_t kOperationUnion = 1;
constexpr std::uint8_t kBounding = 0;
constexpr std::uint8_t kInput = 2;
constexpr std::uint8_t kUnsorted = 0;

xcb_extension_t shapeExtension = {"SHAPE", 0};

void sendRectangles(xcb_connection_t* connection, std::uint32_t window, std::uint8_t kind, std::uint8_t operation,
                    const xcb_rectangle_t* rectangles, qsizetype count)
{
    static const xcb_protocol_request_t request = {4, &shapeExtension, kShapeRectangles, 1};
    ShapeRectanglesRequest out{};
    out.operation = operation;
    out.destinationKind = kind;
    out.ordering = kUnsorted;
    out.destinationWindow = window;
    iovec parts[6];
    parts[2].iov_base = &out;
    parts[2].iov_len = sizeof(out);
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    parts[4].iov_base = const_cast<xcb_rectangle_t*>(rectangles);
    parts[4].iov_len = size_t(count) * sizeof(xcb_rectangle_t);
    parts[5].iov_base = nullptr;
    parts[5].iov_len = 0;
    xcb_send_request(connection, 0, parts + 2, &request);
}

void removeShape(xcb_connection_t* connection, std::uint32_t window, std::uint8_t kind)
{
    // ShapeMask with no pixmap: the window's own rectangle again.
    struct {
        std::uint8_t majorOpcode, minorOpcode;
        std::uint16_t length;
        std::uint8_t operation, destinationKind;
        std::uint16_t pad;
        std::uint32_t destinationWindow;
        std::int16_t xOffset, yOffset;
        std::uint32_t pixmap;
    } out{};
    static_assert(sizeof(out) == 20);
    out.operation = kOperationSet;
    out.destinationKind = kind;
    out.destinationWindow = window;
    static const xcb_protocol_request_t request = {2, &shapeExtension, kShapeMask, 1};
    iovec parts[4];
    parts[2].iov_base = &out;
    parts[2].iov_len = sizeof(out);
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    xcb_send_request(connection, 0, parts + 2, &request);
}

} // namespace

void setWindowShape(QWidget* window, const QRegion& shape)
{
    if (!window)
        return;
    xcb_connection_t* connection = x11::applicationConnection();
    // Qt sends a region in one request: right for a few rectangles, and for other window systems.
    if (!connection || shape.rectCount() <= x11::kRectanglesPerRequest) {
        if (shape.isEmpty())
            window->clearMask();
        else
            window->setMask(shape);
        return;
    }
    // Qt's own mask would come back over ours whenever it sends it again.
    window->clearMask();
    if (window->windowHandle() && window->testAttribute(Qt::WA_WState_Created))
        x11::setWindowShape(connection, x11::windowOf(window), shape);
}

void setWindowInputShape(QWidget* window, const QRegion& shape)
{
    xcb_connection_t* connection = x11::applicationConnection();
    if (!window || !connection || !window->windowHandle() || !window->testAttribute(Qt::WA_WState_Created))
        return;
    x11::setWindowShape(connection, x11::windowOf(window), shape, x11::ShapeKind::Input);
}

namespace x11 {

bool setWindowShape(xcb_connection_t* connection, std::uint32_t window, const QRegion& shape, ShapeKind which)
{
    const std::uint8_t kind = which == ShapeKind::Input ? kInput : kBounding;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &shapeExtension);
    if (!extension || !extension->present)
        return false;
    if (shape.isEmpty()) {
        removeShape(connection, window, kind);
        xcb_flush(connection);
        return true;
    }
    QVector<xcb_rectangle_t> rectangles;
    rectangles.reserve(shape.rectCount());
    for (const QRect& r : shape)
        rectangles.append({std::int16_t(r.x()), std::int16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height())});
    // The first part replaces the old shape; the others add to it.
    for (qsizetype start = 0; start < rectangles.size(); start += kRectanglesPerRequest) {
        const qsizetype count = std::min<qsizetype>(kRectanglesPerRequest, rectangles.size() - start);
        sendRectangles(connection, window, kind, start == 0 ? kOperationSet : kOperationUnion, rectangles.constData() + start, count);
    }
    xcb_flush(connection);
    return true;
}

} // namespace x11
} // namespace platform
