#pragma once

// What a network backend's file and folder items share: the session of the connection they were listed on, and
// their storage, weakly (the storage holds its root folder, which holds the rest).

#include "platform/camera/VKLCamera.h"

#include <memory>

namespace vornakel {

template <typename Session, typename ItemBase>
class NetworkItem : public ItemBase {
public:
    NetworkItem(std::shared_ptr<Session> session, std::weak_ptr<VKLFileStorage> storage)
        : m_session(std::move(session)), m_storage(std::move(storage))
    {
    }

    std::shared_ptr<VKLFileStorage> storage() const override { return m_storage.lock(); }

protected:
    const std::shared_ptr<Session>& session() const { return m_session; }
    const std::weak_ptr<VKLFileStorage>& storageRef() const { return m_storage; }

private:
    std::shared_ptr<Session> m_session;
    std::weak_ptr<VKLFileStorage> m_storage;
};

} // namespace vornakel
