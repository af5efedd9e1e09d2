// SPDX-License-Identifier: MIT
// malloc and its family for a whole test program: objects packed side by
// side in the brk heap, as tcmalloc packs its small ones (8-byte objects 8
// bytes apart), with nothing of the allocator's between them. Nothing is
// ever given back.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

extern "C" {
void *memalign(size_t align, size_t size) {
    uintptr_t at = reinterpret_cast<uintptr_t>(sbrk(0)), start = (at + align - 1) & ~(align - 1);
    if (sbrk(static_cast<intptr_t>(start - at + size + (size == 0))) == (void *)-1)
        return errno = ENOMEM, nullptr;
    return reinterpret_cast<void *>(start);
}
void *malloc(size_t size) {
    return memalign(size <= 8 ? 8 : 16, size);
}
void free(void *) {}
void *calloc(size_t count, size_t size) {
    size_t total;
    void *p = __builtin_mul_overflow(count, size, &total) ? nullptr : malloc(total);
    return p != nullptr ? std::memset(p, 0, total) : p;
}
void *realloc(void *old, size_t size) {
    char *p = static_cast<char *>(malloc(size)), *from = static_cast<char *>(old);
    if (p != nullptr && from != nullptr) // lying below p, readable up to it
        std::memcpy(p, from, std::min(size, static_cast<size_t>(p - from)));
    return p;
}
void *aligned_alloc(size_t align, size_t size) {
    return memalign(align, size);
}
void *valloc(size_t size) {
    return memalign(4096, size);
}
void *pvalloc(size_t size) {
    return memalign(4096, (size + 4095) & ~size_t{4095});
}
int posix_memalign(void **out, size_t align, size_t size) {
    void *p = memalign(align, size);
    return p != nullptr ? (*out = p, 0) : ENOMEM;
}
}
