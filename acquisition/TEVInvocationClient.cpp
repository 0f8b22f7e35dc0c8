#include "acquisition/TEVInvocationClient.h"

#include "acquisition/TEVServiceInvocation.h"

const QString TEVInvocationClient::ResponseTimeoutNotification = QStringLiteral("TEVInvocationClientHasResponseTimeout");
const QString TEVInvocationClient::ConnectionFailureNotification = QStringLiteral("TEVInvocationClientHasConnectionFailure");
const QString TEVInvocationClient::SleepingServerNotification = QStringLiteral("TEVInvocationClientHasSleepingServer");
const QString TEVInvocationClient::ErrorKey = QStringLiteral("Error");

TEVInvocationClient::TEVInvocationClient() = default;
TEVInvocationClient::~TEVInvocationClient() = default;

std::shared_ptr<TEVInvocationClient> TEVInvocationClient::createWithNetService(const platform::NetService& service)
{
    return makeWithNetService<TEVInvocationClient>(service);
}

std::shared_ptr<TEVInvocationClient> TEVInvocationClient::createWithHostSpecifier(const QString& host, quint64 port)
{
    return makeWithHostSpecifier<TEVInvocationClient>(host, port);
}

double TEVInvocationClient::responseTimeout() { return 3.0; }
void TEVInvocationClient::setResponseTimeout(double) {}
QString TEVInvocationClient::nextConnectionName() { return {}; }
QList<quint64> TEVInvocationClient::pendingSequenceNumbers() const { return {}; }
bool TEVInvocationClient::checkConnectivityWithTimeout(double) { return false; }
QString TEVInvocationClient::serverVersion() { return {}; }
QString TEVInvocationClient::pingResponse() { return {}; }
void TEVInvocationClient::disconnectFromServer() {}
QVariant TEVInvocationClient::resultOfInvocation(const std::shared_ptr<TEVServiceInvocation>&) { return {}; }
void TEVInvocationClient::sendPing() {}
void TEVInvocationClient::ensureConnectivity() {}
quint64 TEVInvocationClient::registerPendingRequestUsingStatus(const std::shared_ptr<TEVInvocationStatus>&) { return 0; }
void TEVInvocationClient::sendCommandString(const QString&) {}
void TEVInvocationClient::sendData(const QByteArray&) {}
void TEVInvocationClient::unregisterPendingRequestOfSequenceNumber(quint64) {}
void TEVInvocationClient::deliverResult(const QVariant&, quint64) {}
QVariant TEVInvocationClient::returnNilHandlingTimeoutOfRequestWithSequenceNumber(quint64) { return {}; }
void TEVInvocationClient::shutdownImmediately() {}
void TEVInvocationClient::connectionWillCloseWithError(TEVRemoteCommandConnection&, const std::optional<platform::Error>&) {}
bool TEVInvocationClient::connectionProcessParsedCommandData(TEVRemoteCommandConnection&, const QByteArray&) { return true; }
void TEVInvocationClient::connectionDidReadBytes(TEVRemoteCommandConnection&, quint64) {}
void TEVInvocationClient::connectionLogWithFormat(TEVRemoteCommandConnection&, const QString&) {}
