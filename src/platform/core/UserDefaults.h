#pragma once

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <optional>

namespace vornakel {

// Settings by key: stored values sit above a registration domain that only supplies values
// for keys the user never stored. Every change emits `changed` with its key.
//
// The stored values live in a binary property list, so each keeps its type across processes: booleans, integers,
// reals, strings, data, dates, lists and dictionaries read back as what was written (a one-element list stays a
// list). URLs are stored as archived NSURL data, as NSUserDefaults does. Changes are written shortly after they are
// made (and by synchronize()), through a temporary file renamed into place; keys another process changed in the
// meantime are kept. A file that cannot be read is set aside under a new name instead of being overwritten.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    // The application's store: "<XDG config>/com.vornakel.zediriri-zir/UserDefaults.plist".
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
    QVariantList arrayForKey(const QString& key) const;   // empty when absent or not a list
    QVariantMap dictionaryForKey(const QString& key) const; // empty when absent or not a dictionary
    QDateTime dateForKey(const QString& key) const;       // invalid when absent or not a date
    // A URL stored with setURL, or a path stored as a string (a file URL); empty otherwise.
    QUrl urlForKey(const QString& key) const;
    // The value as a whole number, or none when it is absent or is not one (a text such as "2", as the older
    // INI file gave numbers back, counts; "2.5", "two", a boolean or a list do not).
    std::optional<qint64> optionalIntegerForKey(const QString& key) const;

    // An invalid QVariant removes the key; a value a property list cannot hold is refused with a warning.
    void setValue(const QString& key, const QVariant& value);
    void setBool(const QString& key, bool value) { setValue(key, value); }
    void setInteger(const QString& key, qint64 value) { setValue(key, value); }
    void setURL(const QString& key, const QUrl& url);
    void removeObject(const QString& key);

    // Writes pending changes to disk now (they are also written soon after each change and on destruction).
    void synchronize();
    // Re-reads the file, picking up another process's writes; emits `changed` for keys whose value differs.
    void reload();

    QString filePath() const;
    // Where an unreadable file found at this store's path was moved, if that happened.
    std::optional<QString> setAsideFilePath() const { return m_setAsidePath; }

signals:
    void changed(const QString& key);

private:
    // The file's values; an unreadable file is set aside and reads as empty.
    QVariantMap readStoredValues();
    void scheduleWrite();

    QString m_filePath;
    QVariantMap m_stored;
    QVariantMap m_registered;
    // Keys changed here since the last write; only these override what another process wrote.
    QSet<QString> m_pending;
    bool m_writeScheduled = false;
    std::optional<QString> m_setAsidePath;
};

} // namespace vornakel
