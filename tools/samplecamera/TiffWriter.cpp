#include "samplecamera/TiffWriter.h"

#include <QtEndian>

#include <algorithm>

namespace vornakel::tools {

namespace {

void appendU16(QByteArray& out, uint16_t value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendU32(QByteArray& out, uint32_t value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// TIFF wants every offset on a word boundary.
qsizetype padded(qsizetype size) { return size + (size & 1); }

qsizetype directorySize(size_t entries) { return 2 + 12 * qsizetype(entries) + 4; }

} // namespace

int TiffWriter::addDirectory()
{
    m_directories.emplace_back();
    return int(m_directories.size()) - 1;
}

void TiffWriter::setNextDirectory(int directory, int next) { m_directories.at(size_t(directory)).next = next; }

int TiffWriter::addData(const QByteArray& bytes)
{
    m_data.push_back(bytes);
    return int(m_data.size()) - 1;
}

void TiffWriter::add(int directory, Entry entry)
{
    auto& entries = m_directories.at(size_t(directory)).entries;
    // Readers expect ascending tags; a repeated tag replaces the earlier one.
    auto position = std::lower_bound(entries.begin(), entries.end(), entry.tag,
                                     [](const Entry& e, uint16_t tag) { return e.tag < tag; });
    if (position != entries.end() && position->tag == entry.tag)
        *position = std::move(entry);
    else
        entries.insert(position, std::move(entry));
}

void TiffWriter::addShorts(int directory, uint16_t tag, const QList<uint16_t>& values)
{
    QByteArray bytes;
    for (uint16_t value : values)
        appendU16(bytes, value);
    add(directory, {tag, Short, uint32_t(values.size()), bytes, Reference::None, -1});
}

void TiffWriter::addLongs(int directory, uint16_t tag, const QList<uint32_t>& values)
{
    QByteArray bytes;
    for (uint32_t value : values)
        appendU32(bytes, value);
    add(directory, {tag, Long, uint32_t(values.size()), bytes, Reference::None, -1});
}

void TiffWriter::addAscii(int directory, uint16_t tag, const QByteArray& text)
{
    QByteArray bytes = text;
    bytes.append('\0');
    add(directory, {tag, Ascii, uint32_t(bytes.size()), bytes, Reference::None, -1});
}

void TiffWriter::addRational(int directory, uint16_t tag, uint32_t numerator, uint32_t denominator)
{
    QByteArray bytes;
    appendU32(bytes, numerator);
    appendU32(bytes, denominator);
    add(directory, {tag, Rational, 1, bytes, Reference::None, -1});
}

void TiffWriter::addBytes(int directory, uint16_t tag, Type type, const QByteArray& bytes)
{
    add(directory, {tag, type, uint32_t(bytes.size()), bytes, Reference::None, -1});
}

void TiffWriter::addDirectoryOffset(int directory, uint16_t tag, int target)
{
    add(directory, {tag, Long, 1, {}, Reference::Directory, target});
}

void TiffWriter::addDataOffset(int directory, uint16_t tag, int data)
{
    add(directory, {tag, Long, 1, {}, Reference::Data, data});
}

QByteArray TiffWriter::build() const
{
    // First pass: where every directory, its out-of-line values and every data block go.
    std::vector<uint32_t> directoryOffsets;
    qsizetype position = 8;
    for (const Directory& directory : m_directories) {
        directoryOffsets.push_back(uint32_t(position));
        position += directorySize(directory.entries.size());
        for (const Entry& entry : directory.entries) {
            if (entry.value.size() > 4)
                position += padded(entry.value.size());
        }
    }
    std::vector<uint32_t> dataOffsets;
    for (const QByteArray& data : m_data) {
        dataOffsets.push_back(uint32_t(position));
        position += padded(data.size());
    }

    QByteArray out;
    out.reserve(position);
    out.append("II", 2);
    appendU16(out, 42);
    appendU32(out, m_directories.empty() ? 0 : directoryOffsets.front());

    for (size_t d = 0; d < m_directories.size(); ++d) {
        const Directory& directory = m_directories[d];
        qsizetype overflow = directoryOffsets[d] + directorySize(directory.entries.size());
        QByteArray overflowBytes;
        appendU16(out, uint16_t(directory.entries.size()));
        for (const Entry& entry : directory.entries) {
            appendU16(out, entry.tag);
            appendU16(out, entry.type);
            appendU32(out, entry.count);
            if (entry.reference == Reference::Directory) {
                appendU32(out, directoryOffsets.at(size_t(entry.target)));
            } else if (entry.reference == Reference::Data) {
                appendU32(out, dataOffsets.at(size_t(entry.target)));
            } else if (entry.value.size() <= 4) {
                QByteArray inlineValue = entry.value;
                inlineValue.append(QByteArray(4 - inlineValue.size(), '\0'));
                out.append(inlineValue);
            } else {
                appendU32(out, uint32_t(overflow + overflowBytes.size()));
                overflowBytes.append(entry.value);
                if (entry.value.size() & 1)
                    overflowBytes.append('\0');
            }
        }
        appendU32(out, directory.next < 0 ? 0 : directoryOffsets.at(size_t(directory.next)));
        out.append(overflowBytes);
    }
    for (const QByteArray& data : m_data) {
        out.append(data);
        if (data.size() & 1)
            out.append('\0');
    }
    return out;
}

} // namespace vornakel::tools
