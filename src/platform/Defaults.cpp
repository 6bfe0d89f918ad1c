#include "platform/Defaults.h"

#include <QCoreApplication>
#include <QMutexLocker>

Defaults &Defaults::standard()
{
    static Defaults *instance = [] {
        auto *defaults = new Defaults();
        if (auto *app = QCoreApplication::instance())
            defaults->moveToThread(app->thread());
        return defaults;
    }();
    return *instance;
}

Defaults::Defaults() : m_settings(std::make_unique<QSettings>(QStringLiteral("Roadloom"), QStringLiteral("Roadloom")))
{
}

Defaults::Defaults(const QString &iniPath, QObject *parent)
    : QObject(parent), m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

Defaults::~Defaults() = default;

void Defaults::registerDefaults(const QVariantMap &values)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = values.begin(); it != values.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant Defaults::value(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    if (m_settings->contains(key))
        return m_settings->value(key);
    return m_registered.value(key);
}

QString Defaults::string(const QString &key) const { return value(key).toString(); }

bool Defaults::boolean(const QString &key) const { return value(key).toBool(); }

double Defaults::number(const QString &key) const { return value(key).toDouble(); }

QStringList Defaults::stringList(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString().isEmpty() ? QStringList() : QStringList{v.toString()};
    return v.toStringList();
}

bool Defaults::contains(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings->contains(key);
}

void Defaults::setValue(const QString &key, const QVariant &value)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_settings->contains(key) && m_settings->value(key) == value)
            return;
        m_settings->setValue(key, value);
        m_settings->sync();
    }
    emit changed(key);
}

void Defaults::remove(const QString &key)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_settings->contains(key))
            return;
        m_settings->remove(key);
        m_settings->sync();
    }
    emit changed(key);
}
