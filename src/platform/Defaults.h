#pragma once

#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

// User defaults: persistent settings under the organisation and application "Roadloom", with registered
// defaults answered for unset keys. Values are stored raw, as the program's texts name them ("kmh",
// "important"). Safe to use from any thread; `changed` is emitted on the thread that wrote.
class Defaults : public QObject {
    Q_OBJECT
public:
    // The user's defaults, created on first use and never destroyed.
    static Defaults &standard();

    // A separate store in an INI file, for tests and tools.
    explicit Defaults(const QString &iniPath, QObject *parent = nullptr);
    ~Defaults() override;

    void registerDefaults(const QVariantMap &values);

    QVariant value(const QString &key) const;
    QString string(const QString &key) const;
    bool boolean(const QString &key) const;
    double number(const QString &key) const;
    QStringList stringList(const QString &key) const;
    bool contains(const QString &key) const;

    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

signals:
    void changed(const QString &key);

private:
    Defaults();
    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_registered;
};
