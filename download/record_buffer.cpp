#include "download/record_buffer.h"

#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pandrel {

std::uint32_t FieldNameChecksum(const Text& name) {
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(name.data()), static_cast<uInt>(name.size())));
}

RecordBuffer::~RecordBuffer() {
    Release();
}

void* RecordBuffer::Init(int alignment, std::uint8_t fillByte, int capacity, int growStep) {
    Release();
    m_alignment = std::max(alignment, 1);
    m_growStep = growStep;
    m_fillByte = fillByte;
    if (capacity < 0) {
        return nullptr;
    }
    // A zero capacity still gets a real block, so that the buffer counts as set up.
    m_block = static_cast<std::uint8_t*>(
        std::calloc(std::max<std::size_t>(static_cast<std::size_t>(capacity), 1), 1));
    if (m_block == nullptr) {
        return nullptr;
    }
    m_capacity = capacity;
    return m_block;
}

void RecordBuffer::Release() {
    m_usedSize = 0;
    m_fields.clear();
    std::free(m_block);
    m_block = nullptr;
    m_capacity = 0;
}

// One step of growth. The block is first extended where it lies when the allocator already
// holds enough room behind it; otherwise a new zero-filled block takes the used bytes.
bool RecordBuffer::Grow() {
    if (m_growStep <= 0 || m_capacity > INT32_MAX - m_growStep) {
        return false;
    }
    const auto newCapacity = static_cast<std::size_t>(m_capacity) + m_growStep;
    if (malloc_usable_size(m_block) >= newCapacity) {
        std::memset(m_block + m_capacity, 0, static_cast<std::size_t>(m_growStep));
        m_capacity += m_growStep;
        return true;
    }
    auto* block = static_cast<std::uint8_t*>(std::calloc(newCapacity, 1));
    if (block == nullptr) {
        return false;
    }
    std::memcpy(block, m_block, static_cast<std::size_t>(m_usedSize));
    std::free(m_block);
    m_block = block;
    m_capacity += m_growStep;
    return true;
}

bool RecordBuffer::AddField(const Text& name, int size, const std::optional<Bytes>& initialBytes) {
    if (m_block == nullptr || size < 0 || FindField(name) != 0) {
        return false;
    }
    const int remainder = size % m_alignment;
    const int padding = remainder == 0 ? 0 : m_alignment - remainder;
    if (m_usedSize > INT32_MAX - size - padding) {
        return false;
    }
    while (m_capacity < m_usedSize + size + padding) {
        if (!Grow()) {
            return false;
        }
    }
    m_fields.push_back({name, m_usedSize, size, FieldNameChecksum(name)});
    std::uint8_t* field = m_block + m_usedSize;
    if (initialBytes.has_value()) {
        const std::size_t count = std::min(initialBytes->size(), static_cast<std::size_t>(size));
        if (count > 0) {
            std::memcpy(field, initialBytes->data(), count);
        }
    }
    std::memset(field + size, m_fillByte, static_cast<std::size_t>(padding));
    m_usedSize += size + padding;
    return true;
}

int RecordBuffer::FindField(const Text& name) const {
    const std::uint32_t checksum = FieldNameChecksum(name);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].checksum == checksum) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

bool RecordBuffer::WriteField(const Text& name, const Bytes& bytes) {
    const int position = FindField(name);
    if (position == 0) {
        return false;
    }
    const Field& field = m_fields[static_cast<std::size_t>(position) - 1];
    const std::size_t count = std::min(bytes.size(), static_cast<std::size_t>(field.size));
    if (count > 0) {
        std::memcpy(m_block + field.offset, bytes.data(), count);
    }
    return true;
}

Bytes RecordBuffer::ReadField(const Text& name) const {
    const int position = FindField(name);
    if (position == 0) {
        return {};
    }
    const Field& field = m_fields[static_cast<std::size_t>(position) - 1];
    return Bytes(m_block + field.offset, m_block + field.offset + field.size);
}

} // namespace pandrel
