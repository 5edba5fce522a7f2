#pragma once

#include "platform/core/KeyedArchive.h"
#include "sorting/PhotoSortingStep.h"
#include "sorting/PhotoSortingToken.h"

#include <QVariantList>

#include <atomic>
#include <memory>
#include <variant>
#include <vector>

namespace vornakel {

// A step the user composes from literal text and tokens: exactly the represented objects of the editor's token
// field, each a QString (literal, used unchanged) or a token object ({"value": raw value}). Other elements are
// kept (and archived again) but add nothing to the name.
class UserDefinedSortingStep final : public PhotoSortingStep {
public:
    using Ptr = std::shared_ptr<UserDefinedSortingStep>;

    UserDefinedSortingStep();
    explicit UserDefinedSortingStep(QVariantList representedObjects);
    static Ptr create(QVariantList representedObjects = {});

    // A new step with the same pattern; editing one never changes the other.
    Ptr copy() const;

    // The pattern; read and replaced (as a whole) on the main thread.
    const QVariantList& tokenFieldRepresentedObjects() const { return m_representedObjects; }
    void setTokenFieldRepresentedObjects(QVariantList representedObjects);

    // Keyed archive form: class "Vornakel_Transfer.UserDefinedSortingStep", key "tokenObjects" holding the
    // pattern. Decoding never fails: a missing or non-array "tokenObjects" gives an empty pattern.
    static QString archiveClassName();
    static QString tokenObjectsKey(); // "tokenObjects"
    ArchivedObjectPtr encode() const;
    static Ptr decode(const ArchivedObject& archived);

protected:
    QString makeName(const PhotoVariant& variant, const SortingContext& context) const override;

private:
    // The pattern decoded once per edit, so naming thousands of files does not re-read the token objects. A copy
    // may be naming files on its own thread while the pattern is edited, so it is swapped as a whole.
    using Part = std::variant<QString, PhotoSortingToken>;
    using Parts = std::vector<Part>;
    void compile();

    QVariantList m_representedObjects;
    std::atomic<std::shared_ptr<const Parts>> m_parts;
};

using UserDefinedSortingStepPtr = UserDefinedSortingStep::Ptr;

} // namespace vornakel
