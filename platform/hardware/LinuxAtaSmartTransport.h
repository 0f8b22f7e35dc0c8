#pragma once
// LinuxAtaSmartTransport: ATA S.M.A.R.T. commands over SG_IO as ATA PASS-THROUGH (16), falling back to the
// 12-byte form for drivers that reject the 16-byte one, on <host root>/dev/<BSD name>. Opening needs read
// access to the node; the commands need root or CAP_SYS_RAWIO, and without them fail (EPERM) like a drive
// that cannot be reached. The node is opened non-blocking and every command has a short time-out.
// Shared and thread-safe; each connection owns its descriptor.

#include "platform/hardware/AtaSmartTransport.h"

#include <memory>

struct sg_io_hdr;

namespace platform {

class HostRoot;

// The SG_IO ioctl; tests replace it with a scripted drive.
class SgIoDevice {
public:
    virtual ~SgIoDevice() = default;
    // 0 when the request went through (its status fields then tell how the command ended), else an errno.
    virtual int submit(int fd, sg_io_hdr& request) const = 0;
};

class LinuxAtaSmartTransport final : public AtaSmartTransport {
public:
    static constexpr unsigned CommandTimeoutMs = 3000;

    // Null `root`: the current HostRoot at each open. Null `device`: the real ioctl, which refuses
    // descriptors that are not block devices.
    explicit LinuxAtaSmartTransport(std::shared_ptr<const HostRoot> root = nullptr,
                                    std::shared_ptr<const SgIoDevice> device = nullptr);

    OpenResult open(const QString& bsdName) const override;

private:
    std::shared_ptr<const HostRoot> root_;
    std::shared_ptr<const SgIoDevice> device_;
};

} // namespace platform
