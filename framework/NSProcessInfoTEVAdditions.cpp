#include "framework/NSProcessInfoTEVAdditions.h"

#include "platform/desktop/OperatingSystemIdentity.h"
#include "platform/desktop/ProcessTable.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::shared_ptr<const TEVOSVersionInfoCache> g_cache;

// Scans a decimal integer at `pos` like a text scanner: leading spaces, an optional sign, digits.
std::optional<qint64> scanInteger(const QString& text, qsizetype& pos)
{
    qsizetype i = pos;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    const qsizetype signAt = i;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    const qsizetype digitsAt = i;
    while (i < text.size() && text.at(i).isDigit() && i - digitsAt < 18)
        ++i;
    if (i == digitsAt)
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.mid(signAt, i - signAt).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    while (i < text.size() && text.at(i).isDigit())
        ++i; // digits beyond what fits are consumed, as a scanner would
    pos = i;
    return value;
}

} // namespace

qint64 NSProcessInfoTEVAdditions::versionCodeForVersionString(const QString& version)
{
    if (version.isEmpty())
        return 0x1000;
    qsizetype pos = 0;
    const qint64 major = scanInteger(version, pos).value_or(10);
    if (pos < version.size() && version.at(pos) == QLatin1Char('.'))
        ++pos;
    const qint64 minor = scanInteger(version, pos).value_or(0);
    if (pos < version.size() && version.at(pos) == QLatin1Char('.'))
        ++pos;
    const qint64 patch = scanInteger(version, pos).value_or(0);
    return (major / 10) * 0x1000 + (major % 10) * 0x100 + minor * 0x10 + patch;
}

QString NSProcessInfoTEVAdditions::marketingNameForVersionCode(qint64 code)
{
    if (code <= 0x107F)
        return QStringLiteral("Mac OS X");
    if (code <= 0x10BF)
        return QStringLiteral("OS X");
    return QStringLiteral("macOS");
}

void NSProcessInfoTEVAdditions::updateVersionInfo()
{
    auto info = std::make_shared<TEVOSVersionInfoCache>();
    const auto identity = platform::OperatingSystemIdentity::read();
    if (!identity) {
        info->osName = info->osMarketingName = info->osVersion = info->osBuild = QStringLiteral("?");
        info->osVersionCode = 0x1000;
        // Polite forms belong to the original platform's old releases; an unknown Linux system is not one.
        info->shouldUIUsePoliteForms = false;
    } else {
        info->osName = identity->productName;
        info->osVersion = identity->version;
        info->osBuild = identity->build;
        info->osVersionCode = versionCodeForVersionString(identity->version);
        if (identity->source == platform::OperatingSystemIdentity::Source::SystemVersionFile) {
            info->osMarketingName = marketingNameForVersionCode(info->osVersionCode);
            info->shouldUIUsePoliteForms = info->osVersionCode < 0x10C0;
        } else {
            // On Linux the version code counts distribution releases, so its thresholds mean nothing.
            info->osMarketingName = identity->prettyName;
            info->shouldUIUsePoliteForms = false;
        }
    }
    info->osVersionString = QStringLiteral("Version %1").arg(info->osVersion);
    if (!info->osBuild.isEmpty())
        info->osVersionString += QStringLiteral(" (Build %1)").arg(info->osBuild);
    std::lock_guard lock(g_mutex);
    g_cache = std::move(info);
}

std::shared_ptr<const TEVOSVersionInfoCache> NSProcessInfoTEVAdditions::cache()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_cache)
            return g_cache;
    }
    updateVersionInfo();
    std::lock_guard lock(g_mutex);
    return g_cache;
}

qint64 NSProcessInfoTEVAdditions::operatingSystemVersionCode()
{
    return cache()->osVersionCode;
}

QString NSProcessInfoTEVAdditions::operatingSystemProductName()
{
    return cache()->osName;
}

QString NSProcessInfoTEVAdditions::operatingSystemMarketingName()
{
    return cache()->osMarketingName;
}

QString NSProcessInfoTEVAdditions::operatingSystemVersionNumberString()
{
    return cache()->osVersion;
}

QString NSProcessInfoTEVAdditions::operatingSystemBuildCode()
{
    return cache()->osBuild;
}

QString NSProcessInfoTEVAdditions::operatingSystemVersionString()
{
    return cache()->osVersionString;
}

bool NSProcessInfoTEVAdditions::shouldUIUsePoliteForms()
{
    return cache()->shouldUIUsePoliteForms;
}

QString NSProcessInfoTEVAdditions::processNameForProcessID(qint32 processID, quint32* effectiveUserID)
{
    const auto entry = platform::ProcessTable::find(processID);
    if (!entry)
        return {};
    if (effectiveUserID)
        *effectiveUserID = entry->effectiveUserID;
    return entry->name;
}
