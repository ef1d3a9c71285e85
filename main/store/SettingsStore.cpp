#include "store/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

#include <limits>
#include <optional>
#include <sys/stat.h>

namespace ostrel {

namespace {

QString SettingsKey(const char* group, const char* key)
{
    return QString::fromLatin1(group) + QLatin1Char('/') + QString::fromLatin1(key);
}

// A signed decimal integer that fits an int, blanks around it allowed; nothing else.
std::optional<int> ParseDecimal(const QString& text)
{
    QString trimmed = text.trimmed();
    qsizetype position = 0;
    bool negative = false;
    if (position < trimmed.size()
        && (trimmed[position] == QLatin1Char('-') || trimmed[position] == QLatin1Char('+'))) {
        negative = trimmed[position] == QLatin1Char('-');
        ++position;
    }
    if (position == trimmed.size()) {
        return std::nullopt;
    }
    // Accumulated towards the negative side, which holds one more value than the positive.
    long long value = 0;
    constexpr long long kMinimum = std::numeric_limits<int>::min();
    for (; position < trimmed.size(); ++position) {
        char16_t c = trimmed[position].unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 - (c - u'0');
        if (value < kMinimum) {
            return std::nullopt;
        }
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<int>(value);
}

// Another writer may have stored a typed value; an integer that fits is taken as it is.
std::optional<int> IntegerValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return ParseDecimal(value.toString());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong: {
        long long number = value.toLongLong();
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        return static_cast<int>(number);
    }
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        unsigned long long number = value.toULongLong();
        if (number > static_cast<unsigned long long>(std::numeric_limits<int>::max())) {
            return std::nullopt;
        }
        return static_cast<int>(number);
    }
    default:
        // Lists (a stored "1,2"), doubles, blobs: not a decimal integer.
        return std::nullopt;
    }
}

// Whether a path names something other than a plain file, links followed.
bool IsSpecialFile(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode);
}

} // namespace

SettingsStore::SettingsStore()
{
    // QSettings reads its files as it is made, and saves by renaming a new file over the one a
    // link names. A FIFO in the place of a settings file would block the start for ever, and a
    // link to a device would be read without end or have the device replaced. Such a place holds
    // no settings: the store then gives the defaults and writes nothing.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (IsSpecialFile(folder + QStringLiteral("/Kivora/Velmor.conf"))
        || IsSpecialFile(folder + QStringLiteral("/Kivora.conf"))) {
        return;
    }
    m_settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Kivora"), QStringLiteral("Velmor"));
}

SettingsStore::~SettingsStore() = default;

int SettingsStore::ReadInt(const char* group, const char* key, int defaultValue)
{
    if (!m_settings) {
        return defaultValue;
    }
    QVariant value = m_settings->value(SettingsKey(group, key));
    if (!value.isValid()) {
        return defaultValue;
    }
    return IntegerValue(value).value_or(defaultValue);
}

void SettingsStore::WriteInt(const char* group, const char* key, int value)
{
    if (!m_settings) {
        return;
    }
    m_settings->setValue(SettingsKey(group, key), QString::number(value));
}

void SettingsStore::Sync()
{
    if (m_settings) {
        m_settings->sync();
    }
}

} // namespace ostrel
