#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/value_types.h"

namespace pandrel {

// A zero-filled byte block whose fields are defined at run time by name and laid out one after
// another. Fields are looked up by the CRC-32 of their names alone (two names with the same
// checksum count as the same field). The block grows by the grow step when a field does not
// fit; a record created at its final size never grows, so its block address stays fixed until
// Release or destruction. Used by one thread at a time; not copyable.
class RecordBuffer {
public:
    RecordBuffer() = default;
    ~RecordBuffer();
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    // Starts over with an empty table and a zero-filled block of `capacity` bytes. Gives the
    // block address, or nullptr when the block cannot be had. An alignment below 1 counts as 1.
    void* Init(int alignment = 1, std::uint8_t fillByte = 0xCC, int capacity = 1024,
               int growStep = 1024);
    // Empties the table and gives the block back.
    void Release();

    // Appends a field of `size` bytes, zero except for up to `size` leading bytes of
    // `initialBytes`, followed by fill-byte padding up to a multiple of the alignment of the
    // field's own size. False for a name already defined, a negative size, no block, or a block
    // that cannot grow; the buffer is then unchanged.
    bool AddField(const Text& name, int size, const std::optional<Bytes>& initialBytes = {});
    // Copies at most the field's size of `bytes` into the field; false when there is no such
    // field.
    bool WriteField(const Text& name, const Bytes& bytes);
    // The field's bytes, exactly its size; empty when there is no such field.
    Bytes ReadField(const Text& name) const;

    // Bytes taken by the fields and their padding: the offset of the next field.
    std::int32_t UsedSize() const { return m_usedSize; }
    void* BlockAddress() const { return m_block; }
    // 1-based position in the field table, 0 when absent.
    int FindField(const Text& name) const;

    // Bytes currently allocated for the block.
    std::int32_t Capacity() const { return m_capacity; }

private:
    struct Field {
        Text name;
        std::int32_t offset = 0;
        std::int32_t size = 0;
        std::uint32_t checksum = 0;
    };

    bool Grow();

    std::uint8_t m_fillByte = 0xCC;
    std::int32_t m_usedSize = 0;
    std::uint8_t* m_block = nullptr;
    std::vector<Field> m_fields;
    std::int32_t m_alignment = 1;
    std::int32_t m_growStep = 1024;
    std::int32_t m_capacity = 0;
};

// The standard CRC-32 (as zlib computes it, seeded with 0) of a field name's bytes.
std::uint32_t FieldNameChecksum(const Text& name);

} // namespace pandrel
