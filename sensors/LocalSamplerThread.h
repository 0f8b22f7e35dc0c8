#pragma once
// LocalSamplerThread: the one thread whose run loop carries the local samplers' timers, so that sampling
// neither depends on the thread that first asked for a sampler (a capture thread ends with its client)
// nor stalls while the main thread waits. Started on first use, stopped when the application object goes.

#include "platform/foundation/RunLoop.h"

#include <memory>

class LocalSamplerThread {
public:
    // Null once the thread has been stopped (the program is ending).
    static std::shared_ptr<platform::RunLoop> runLoop();
};
