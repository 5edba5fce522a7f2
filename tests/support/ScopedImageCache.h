#pragma once

#include "model/Photo.h"

#include <functional>

namespace vornakel::test {

// Points the image cache at a folder (none disables it) and, optionally, "LastSeen" at a clock, for the life
// of the object; then both go back to what they were.
class ScopedImageCache {
public:
    explicit ScopedImageCache(Photo::Location root, std::function<QDateTime()> clock = {})
        : m_previousRoot(Photo::imageCachesDirectory())
    {
        Photo::setImageCachesDirectory(std::move(root));
        if (clock)
            Photo::setClock(std::move(clock));
    }
    ~ScopedImageCache()
    {
        Photo::setImageCachesDirectory(m_previousRoot);
        Photo::setClock({});
    }
    ScopedImageCache(const ScopedImageCache&) = delete;
    ScopedImageCache& operator=(const ScopedImageCache&) = delete;

private:
    Photo::Location m_previousRoot;
};

} // namespace vornakel::test
