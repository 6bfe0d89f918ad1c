#pragma once

#include <QtGlobal>

#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

// Bytes of a file read a piece at a time, in memory mapped for them alone and given back whole at the end. A
// block of this size from the allocator would raise its threshold for mapping large blocks, and the later
// large blocks of the listing would then stay with the process as room after they are freed.
class PieceBuffer {
public:
    PieceBuffer() = default;
    ~PieceBuffer()
    {
        if (m_data)
            ::munmap(m_data, size_t(m_room));
    }
    PieceBuffer(const PieceBuffer &) = delete;
    PieceBuffer &operator=(const PieceBuffer &) = delete;

    char *data() const { return m_data; }
    qsizetype size() const { return m_size; }
    // False when there is no memory for it.
    bool resize(qsizetype size)
    {
        if (size > m_room) {
            const qsizetype page = qsizetype(::sysconf(_SC_PAGESIZE));
            const qsizetype room = (size + page - 1) / page * page;
            void *data = m_data ? ::mremap(m_data, size_t(m_room), size_t(room), MREMAP_MAYMOVE)
                                : ::mmap(nullptr, size_t(room), PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (data == MAP_FAILED)
                return false;
            m_data = static_cast<char *>(data);
            m_room = room;
        }
        m_size = size;
        return true;
    }
    void removeFront(qsizetype count)
    {
        std::memmove(m_data, m_data + count, size_t(m_size - count));
        m_size -= count;
    }

private:
    char *m_data = nullptr;
    qsizetype m_room = 0;
    qsizetype m_size = 0;
};
