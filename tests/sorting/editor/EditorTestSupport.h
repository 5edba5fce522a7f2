#pragma once

#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"
#include "sorting/PhotoSortingToken.h"

#include <QDropEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace vornakel::test {

inline QVariant token(PhotoSortingToken value)
{
    return QVariant(tokenObject(value));
}

// Hands a drop straight to the widget, as the drag manager does for the widget under the pointer.
inline void deliver(QObject* widget, QDropEvent& drop)
{
    widget->event(&drop);
}

// A preset store over its own defaults file, which can be reopened as the next launch (or a launch after the
// process was killed) would see it. Counts the writes of the presets.
class StoreFixture : public testing::Test {
protected:
    StoreFixture() { open(); }

    void open()
    {
        m_store.reset();
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("UserDefaults.ini")));
        m_store = std::make_unique<PhotoSortingModel>(*m_defaults);
        QObject::connect(m_defaults.get(), &UserDefaults::changed, [this](const QString& key) {
            if (key == PhotoSortingModel::userDefinedPresetsUserDefaultsKey())
                ++m_commits;
        });
        m_commits = 0;
    }

    // What the next launch reads, without the quit-time commit (as after a killed process).
    std::vector<PhotoSortingModel::PresetPtr> presetsOfNextLaunch()
    {
        m_defaults->synchronize();
        UserDefaults defaults(m_dir.filePath(QStringLiteral("UserDefaults.ini")));
        PhotoSortingModel store(defaults);
        return store.userDefined();
    }

    PhotoSortingModel& store() { return *m_store; }

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<PhotoSortingModel> m_store;
    int m_commits = 0;
};

} // namespace vornakel::test
