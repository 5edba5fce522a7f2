#pragma once

namespace vornakel {

class PhotoSortingTokenField;

// Token fields paint themselves, so assistive technology sees nothing of them unless told: each field reads as
// editable text (its characters and its tokens' titles), and each token as a named child. Installs the
// accessibility factory once; every field's constructor asks for it.
void installTokenFieldAccessibility();

// Tells assistive technology that the field's tokens changed (some came, some went).
void tokenFieldChildrenChanged(PhotoSortingTokenField* field);

} // namespace vornakel
