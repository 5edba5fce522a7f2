#pragma once

#include <QString>
#include <QStringList>

namespace vornakel::ImageFileTypes {

// What a camera file is, judged by its name extension (case-insensitive), as cameras name their files.
enum class Kind {
    none,      // not an image we know
    jpeg,      // JPG, JPEG
    heif,      // HEIC, HEIF, HIF: processed images in a HEIF container
    raw,       // the RAW formats of camera makers (CR2, CR3, CRW, NEF, NRW, ARW, ORF, RW2, PEF, SRW, RWL, X3F, …)
    other,     // TIFF and PNG, which some cameras write as well
};

// The one list of known image types, shared by the photo model and the simulated camera.
Kind kindOfFileName(const QString& fileName);
inline bool isKnownImageName(const QString& fileName) { return kindOfFileName(fileName) != Kind::none; }
// The lower-case extensions of a kind.
QStringList extensions(Kind kind);

} // namespace vornakel::ImageFileTypes
