#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Log.h"
#include "sensors/TEVSystemManagementController.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

using namespace platform;

namespace dump {

namespace {

// Keeps what the controller logs while it reads one key, so the key's line can name its failure; the
// lines still reach the log afterwards.
class KeptLog final : public LogSink {
public:
    void write(const QString& text) override
    {
        std::lock_guard lock(mutex_);
        lines_.append(text);
    }
    QStringList take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    QStringList lines_;
};

// The first kept line without its class name and line feed.
QString failureText(const QStringList& lines)
{
    if (lines.isEmpty())
        return QStringLiteral("read failed");
    QString text = lines.first().trimmed();
    const qsizetype colon = text.indexOf(QLatin1String(": "));
    return colon < 0 ? text : text.mid(colon + 2);
}

// Character keys hold raw bytes: control characters would break the one-line-per-key form.
QString escapedControlCharacters(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

// One line per key: key, type, size, bytes as hex pairs, display text; tab-separated. A key that cannot be
// read shows its failure in place of the bytes and text, with whatever type and size the SMC gave.
int smcKeysCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    const auto smc = TEVSystemManagementController::sharedSystemManagementController();
    if (!smc) {
        printError(QStringLiteral("no SMC: no \"AppleSMC\" registry entry with \"smc-version\" whose SMC opens "
                                  "(the applesmc device needs root)"));
        return 1;
    }
    bool complete = true;
    const auto kept = std::make_shared<KeptLog>();
    for (const QString& key : smc->allPropertyKeys()) {
        _TEVSMCValue value;
        const auto previous = setLogSink(kept);
        const bool read = smc->getValue(&value, TEVSystemManagementController::fourCharCodeForKeyString(key));
        setLogSink(previous);
        const QStringList logged = kept->take();
        for (const QString& line : logged)
            log(line);

        const bool known = value.dataType != 0;
        QStringList columns = {key, known ? TEVSystemManagementController::stringForFourCharCode(value.dataType)
                                          : QStringLiteral("-"),
                               known ? QString::number(value.dataSize) : QStringLiteral("-")};
        if (read) {
            const qsizetype held = qsizetype(std::min<quint32>(value.dataSize, quint32(value.bytes.size())));
            const QByteArray bytes(reinterpret_cast<const char*>(value.bytes.data()), held);
            columns << TEVSystemManagementController::readableHexStringForData(bytes).trimmed()
                    << escapedControlCharacters(TEVSystemManagementController::descriptionForSMCValue(&value));
        } else {
            complete = false;
            columns << failureText(logged);
        }
        std::fputs(qPrintable(platform::escapeControlCharacters(columns.join(QLatin1Char('\t')) + QLatin1Char('\n'))), stdout);
    }
    return complete ? 0 : 1;
}

} // namespace dump
