#pragma once

// A network backend's folder item with the children its last successful listing gave (none before one): the
// backend lists, the folder keeps. `children` is read from any thread.

#include "platform/camera/VKLCamera.h"

#include <mutex>
#include <optional>
#include <vector>

namespace vornakel {

template <typename FolderBase>
class ListedFolder : public FolderBase {
public:
    using FolderBase::FolderBase;

    std::optional<std::vector<VKLFileSystemItem::ItemPtr>> children() const override
    {
        std::lock_guard lock(m_childrenMutex);
        return m_children;
    }

protected:
    void setChildren(std::vector<VKLFileSystemItem::ItemPtr> children)
    {
        std::lock_guard lock(m_childrenMutex);
        m_children = std::move(children);
    }

private:
    mutable std::mutex m_childrenMutex;
    std::optional<std::vector<VKLFileSystemItem::ItemPtr>> m_children;
};

} // namespace vornakel
