#include "platform/desktop/UrlDownload.h"

#include "platform/foundation/Paths.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace platform {
namespace {

DownloadError tooLarge(qint64 maxBytes)
{
    return {DownloadError::Kind::TooLarge, QStringLiteral("larger than %1 bytes").arg(maxBytes)};
}

// File URLs are read directly: the network manager's file backend reports no size before reading.
std::variant<QByteArray, DownloadError> readLocalFile(const QUrl& url, qint64 maxBytes)
{
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return DownloadError{DownloadError::Kind::Failed, file.errorString()};
    QByteArray bytes = Paths::readAtMost(file, maxBytes);
    if (bytes.size() > maxBytes)
        return tooLarge(maxBytes);
    return bytes;
}

} // namespace

std::variant<QByteArray, DownloadError> UrlDownload::fetch(const QUrl& url, const DownloadLimits& limits)
{
    const QString scheme = url.scheme().toLower();
    if (url.isLocalFile())
        return readLocalFile(url, limits.maxBytes);
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return DownloadError{DownloadError::Kind::UnsupportedScheme, QStringLiteral("unsupported URL '%1'").arg(url.toString())};

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(limits.transferTimeout.count()));
    // Redirects may not leave https for http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    QByteArray bytes;
    bool exceeded = false;
    QEventLoop loop;
    auto take = [&] {
        if (exceeded)
            return;
        bytes += reply->read(limits.maxBytes + 1 - bytes.size());
        if (bytes.size() > limits.maxBytes || reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > limits.maxBytes) {
            exceeded = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, take);
    QObject::connect(reply, &QIODevice::readyRead, &loop, take);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    take();
    const QNetworkReply::NetworkError error = reply->error();
    const QString reason = reply->errorString();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete reply;
    if (exceeded)
        return tooLarge(limits.maxBytes);
    if (error != QNetworkReply::NoError)
        return DownloadError{DownloadError::Kind::Failed, reason};
    if (status != 0 && (status < 200 || status > 299))
        return DownloadError{DownloadError::Kind::Failed, QStringLiteral("HTTP status %1").arg(status)};
    return bytes;
}

} // namespace platform
