#pragma once

// A small little-endian TIFF writer: directories of tagged entries, pointers between directories and offsets
// of data blocks, laid out in one pass. It writes exactly what it is given, which is what a RAW file needs;
// it knows nothing about images.

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <vector>

namespace vornakel::tools {

class TiffWriter {
public:
    enum Type : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, Undefined = 7 };

    // A new, empty directory; the first one made is IFD0.
    int addDirectory();
    // Chains `next` after `directory` (IFD0 → IFD1); other directories are reached through pointer tags.
    void setNextDirectory(int directory, int next);
    // A block of bytes placed after all directories; answers its id for `addDataOffset`.
    int addData(const QByteArray& bytes);

    void addShorts(int directory, uint16_t tag, const QList<uint16_t>& values);
    void addLongs(int directory, uint16_t tag, const QList<uint32_t>& values);
    void addAscii(int directory, uint16_t tag, const QByteArray& text); // the terminating NUL is added
    void addRational(int directory, uint16_t tag, uint32_t numerator, uint32_t denominator);
    void addBytes(int directory, uint16_t tag, Type type, const QByteArray& bytes);
    // A LONG holding the file offset of another directory (Exif IFD, SubIFDs).
    void addDirectoryOffset(int directory, uint16_t tag, int target);
    // A LONG holding the file offset of a data block (strips, JPEG streams).
    void addDataOffset(int directory, uint16_t tag, int data);

    QByteArray build() const;

private:
    enum class Reference { None, Directory, Data };
    struct Entry {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        QByteArray value;            // little-endian value bytes when `reference` is None
        Reference reference = Reference::None;
        int target = -1;
    };
    struct Directory {
        std::vector<Entry> entries;
        int next = -1;
    };

    void add(int directory, Entry entry);

    std::vector<Directory> m_directories;
    std::vector<QByteArray> m_data;
};

} // namespace vornakel::tools
