#pragma once

// A small in-process camera for the model's tests: files and folders built by hand, answers either posted on
// the main queue or at once inside the request (the harshest case for recursion), failures by name, and a log
// of the requests in the order they were sent.

#include "platform/camera/VKLCamera.h"
#include "platform/core/DispatchQueue.h"

#include <QStringList>

#include <functional>

#include <memory>
#include <optional>
#include <vector>

namespace vornakel::test {

struct FakeLog {
    QStringList requests;  // "list:<folder>", "meta:<file>", "thumb:<file>", "preview:<file>"
    int outstanding = 0;   // listing requests not yet answered
    int maxOutstanding = 0;
    std::function<void(const QString&)> onRequest; // runs as each request is sent

    void add(const QString& request)
    {
        requests << request;
        if (onRequest)
            onRequest(request);
    }
};

struct FakeOptions {
    bool synchronous = false;
    std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>();
};

class FakeStorage;

class FakeFile : public VKLFileSystemItem {
public:
    FakeFile(std::optional<QString> name, std::optional<QDateTime> date = std::nullopt, uint64_t size = 1000,
             std::shared_ptr<FakeOptions> options = std::make_shared<FakeOptions>())
        : m_name(std::move(name)), m_date(std::move(date)), m_size(size), m_options(std::move(options)) {}

    std::optional<QString> name() const override { return m_loaded || m_nameBeforeLoad ? m_name : std::nullopt; }
    uint64_t size() const override { return m_size; }
    std::optional<QDateTime> dateCreated() const override { return m_date; }
    bool isKnownImageType() const override { return true; }
    bool metadataLoaded() const override { return m_loaded; }
    std::shared_ptr<VKLFileStorage> storage() const override { return m_storage.lock(); }

    void loadMetadata(ErrorCallback completion) override
    {
        m_options->log->add(QStringLiteral("meta:") + m_name.value_or(QString()));
        auto self = std::static_pointer_cast<FakeFile>(shared_from_this());
        answer([self, completion] {
            if (self->m_metadataError) {
                completion(errorWithVKLErrorCode(VKLErrorMetadataUnavailable));
                return;
            }
            self->m_loaded = true;
            completion(std::nullopt);
        });
    }
    void fetchThumbnail(PreflightBlock preflight, ImageDeliveryBlock delivery) override
    {
        fetch(QStringLiteral("thumb:"), m_thumbnail, std::move(preflight), std::move(delivery));
    }
    void fetchPreview(PreflightBlock preflight, ImageDeliveryBlock delivery) override
    {
        fetch(QStringLiteral("preview:"), m_preview, std::move(preflight), std::move(delivery));
    }
    void streamItem(StreamPreflightBlock, QueuePtr, StreamChunkBlock, QueuePtr, StreamCompleteBlock, QueuePtr) override {}

    // Test controls.
    const std::shared_ptr<FakeOptions>& options() const { return m_options; }
    void setLoaded(bool loaded) { m_loaded = loaded; }
    void setNameBeforeLoad(bool known) { m_nameBeforeLoad = known; }
    void setMetadataError(bool fails) { m_metadataError = fails; }
    void setDate(std::optional<QDateTime> date) { m_date = std::move(date); }
    void setStorage(const std::shared_ptr<VKLFileStorage>& storage) { m_storage = storage; }
    // What the camera delivers for a thumbnail / preview request.
    struct Delivery {
        std::optional<Error> error;
        std::optional<QByteArray> data;
    };
    void setThumbnail(Delivery delivery) { m_thumbnail = std::move(delivery); }
    void setPreview(Delivery delivery) { m_preview = std::move(delivery); }

protected:
    void answer(std::function<void()> block)
    {
        if (m_options->synchronous)
            block();
        else
            DispatchQueue::main()->async(std::move(block));
    }

private:
    void fetch(const QString& kind, const Delivery& what, PreflightBlock preflight, ImageDeliveryBlock delivery)
    {
        m_options->log->add(kind + m_name.value_or(QString()));
        auto self = shared_from_this();
        // Like the library: the preflight is asked just before the request goes out and then released; the
        // delivery follows later.
        auto heldPreflight = std::make_shared<PreflightBlock>(std::move(preflight));
        DispatchQueue::main()->async([self, what, heldPreflight, delivery] {
            const bool wanted = !*heldPreflight || (*heldPreflight)(self);
            *heldPreflight = nullptr;
            if (!wanted)
                return;
            DispatchQueue::main()->async([self, what, delivery] { delivery(self, what.error, what.data); });
        });
    }

    std::optional<QString> m_name;
    std::optional<QDateTime> m_date;
    uint64_t m_size;
    std::shared_ptr<FakeOptions> m_options;
    std::weak_ptr<VKLFileStorage> m_storage;
    bool m_loaded = true;
    bool m_nameBeforeLoad = true;
    bool m_metadataError = false;
    Delivery m_thumbnail{std::nullopt, QByteArray("thumbnail")};
    Delivery m_preview{std::nullopt, QByteArray("preview")};
};

class FakeFolder : public VKLFileSystemFolderItem {
public:
    FakeFolder(QString name, std::shared_ptr<FakeOptions> options) : m_name(std::move(name)), m_options(std::move(options)) {}

    std::optional<QString> name() const override { return m_name; }
    uint64_t size() const override { return 0; }
    std::optional<QDateTime> dateCreated() const override { return std::nullopt; }
    bool isKnownImageType() const override { return false; }
    bool metadataLoaded() const override { return true; }
    std::shared_ptr<VKLFileStorage> storage() const override { return nullptr; }
    void loadMetadata(ErrorCallback completion) override { completion(std::nullopt); }
    void fetchThumbnail(PreflightBlock, ImageDeliveryBlock) override {}
    void fetchPreview(PreflightBlock, ImageDeliveryBlock) override {}
    void streamItem(StreamPreflightBlock, QueuePtr, StreamChunkBlock, QueuePtr, StreamCompleteBlock, QueuePtr) override {}

    void loadChildren(ErrorCallback completion) override
    {
        const std::shared_ptr<FakeLog> log = m_options->log;
        log->add(QStringLiteral("list:") + m_name);
        log->maxOutstanding = std::max(log->maxOutstanding, ++log->outstanding);
        auto self = std::static_pointer_cast<FakeFolder>(shared_from_this());
        auto block = [self, log, completion] {
            --log->outstanding;
            if (self->m_listingError) {
                completion(errorWithVKLErrorCode(VKLErrorListingFailed));
                return;
            }
            self->m_listed = true;
            completion(std::nullopt);
        };
        if (m_options->synchronous)
            block();
        else
            DispatchQueue::main()->async(std::move(block));
    }
    std::optional<std::vector<ItemPtr>> children() const override
    {
        if (!m_listed || m_childrenAbsent)
            return std::nullopt;
        return m_children;
    }

    std::shared_ptr<FakeFolder> addFolder(const QString& name)
    {
        auto folder = std::make_shared<FakeFolder>(name, m_options);
        m_children.push_back(folder);
        return folder;
    }
    std::shared_ptr<FakeFile> addFile(const QString& name, std::optional<QDateTime> date = std::nullopt)
    {
        auto file = std::make_shared<FakeFile>(name, std::move(date), 1000, m_options);
        m_children.push_back(file);
        return file;
    }
    void reserve(size_t count) { m_children.reserve(count); }
    void setListingError(bool fails) { m_listingError = fails; }
    void setChildrenAbsent(bool absent) { m_childrenAbsent = absent; }

private:
    QString m_name;
    std::shared_ptr<FakeOptions> m_options;
    std::vector<ItemPtr> m_children;
    bool m_listed = false;
    bool m_listingError = false;
    bool m_childrenAbsent = false;
};

class FakeStorage : public VKLFileStorage {
public:
    FakeStorage(std::shared_ptr<FakeFolder> root, std::shared_ptr<VKLCamera> camera = nullptr)
        : m_root(std::move(root)), m_camera(camera) {}
    std::shared_ptr<VKLFileSystemFolderItem> rootDirectory() const override { return m_root; }
    std::shared_ptr<VKLCamera> camera() const override { return m_camera.lock(); }
    void setCamera(const std::shared_ptr<VKLCamera>& camera) { m_camera = camera; }

private:
    std::shared_ptr<FakeFolder> m_root;
    std::weak_ptr<VKLCamera> m_camera;
};

class FakeCamera : public VKLCamera {
public:
    explicit FakeCamera(std::optional<QString> identifier = QStringLiteral("FakeCam"))
        : m_identifier(std::move(identifier)) {}

    void connectWithClientName(const QString&, ConnectCompletion completion, InterventionCallback) override
    {
        completion(std::nullopt, {});
    }
    bool supportsCommandCategories(uint32_t) const override { return true; }
    bool currentCommandCategoriesContainsCategory(uint32_t) const override { return true; }
    void setCurrentCommandCategories(uint32_t, ErrorCallback callback) override { callback(std::nullopt); }
    void disconnect(ErrorCallback, QueuePtr) override {}
    unsigned connectionState() const override { return 2; }
    std::optional<QString> friendlyIdentifier() const override { return m_identifier; }
    std::optional<QString> friendlyDisplayName() const override { return m_identifier; }
    VKLCameraService service() const override { return {}; }
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const override { return m_storages; }
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned) override { return nullptr; }

    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> m_storages =
        std::vector<std::shared_ptr<VKLFileStorage>>{};

private:
    std::optional<QString> m_identifier;
};

} // namespace vornakel::test
