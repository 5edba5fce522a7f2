#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace vornakel {

// Settings by key, after NSUserDefaults: stored values (a QSettings INI file) sit above a registration domain
// that only supplies values for keys the user never stored. Every change emits `changed` with its key.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    // The application's store: "<XDG config>/com.vornakel.zediriri-zir/UserDefaults.ini".
    static UserDefaults& standard();
    static QString standardFilePath();

    // A store backed by the given file (tests; the helper program reads the app's file through this).
    explicit UserDefaults(const QString& filePath, QObject* parent = nullptr);
    ~UserDefaults() override;

    // Values that apply while no stored value exists; registering again merges, later wins.
    void registerDefaults(const QVariantMap& defaults);

    // The stored value, else the registered one, else an invalid QVariant.
    QVariant object(const QString& key) const;
    bool contains(const QString& key) const { return object(key).isValid(); }
    bool hasStoredValue(const QString& key) const;

    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;       // empty when absent or not a string
    QByteArray dataForKey(const QString& key) const;      // empty when absent or not data
    QStringList stringArrayForKey(const QString& key) const;

    void setValue(const QString& key, const QVariant& value); // an invalid QVariant removes the key
    void setBool(const QString& key, bool value) { setValue(key, value); }
    void setInteger(const QString& key, qint64 value) { setValue(key, value); }
    void removeObject(const QString& key);

    // Writes pending changes to disk now (they are also written on destruction).
    void synchronize();
    // Re-reads the file, picking up another process's writes; emits `changed` for keys whose value differs.
    void reload();

    QString filePath() const;

signals:
    void changed(const QString& key);

private:
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_registered;
};

} // namespace vornakel
