#pragma once
// UrlDownload: fetches a small resource (https, http or file URL) and waits for it in a nested event loop
// of the calling thread, so that thread keeps handling its events meanwhile. A download stops as soon as
// it exceeds its byte cap. Used on the main thread.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <variant>

namespace platform {

struct DownloadLimits {
    qint64 maxBytes = 1024 * 1024;
    // Without progress for this long (real time: the network does not follow the test clock) it fails.
    std::chrono::milliseconds transferTimeout{30'000};
};

struct DownloadError {
    enum class Kind { UnsupportedScheme, TooLarge, Failed };
    Kind kind = Kind::Failed;
    QString reason;
};

class UrlDownload {
public:
    static std::variant<QByteArray, DownloadError> fetch(const QUrl& url, const DownloadLimits& limits = {});
};

} // namespace platform
