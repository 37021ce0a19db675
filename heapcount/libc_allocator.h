// The C library's own allocator, under the names it exports for this: what
// a program that takes the place of malloc and free (to count or refuse
// allocations, the module's among them) hands the real work to.
#ifndef KERROWBEND_HEAPCOUNT_LIBC_ALLOCATOR_H
#define KERROWBEND_HEAPCOUNT_LIBC_ALLOCATOR_H

#include <cstddef>

// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);
void *__libc_valloc(std::size_t size);
void *__libc_pvalloc(std::size_t size);
void __libc_free(void *pointer);
}
// NOLINTEND(bugprone-reserved-identifier)

#endif
