/* The toolchain's static libyal parsers carry their file I/O layer inside them, without its header:
 * the handle type their headers name, and the calls that make a handle over reads of our own (the raw
 * volume's), as that layer declares them. */
#pragma once

#include <stdint.h>

typedef intptr_t libbfio_handle_t;

#include <sys/types.h>

typedef intptr_t libbfio_error_t;

#ifdef __cplusplus
extern "C" {
#endif

int libbfio_handle_initialize(libbfio_handle_t **handle, intptr_t *io_handle,
                              int (*free_io_handle)(intptr_t **io_handle, libbfio_error_t **error),
                              int (*clone_io_handle)(intptr_t **destination_io_handle, intptr_t *source_io_handle,
                                                     libbfio_error_t **error),
                              int (*open)(intptr_t *io_handle, int access_flags, libbfio_error_t **error),
                              int (*close)(intptr_t *io_handle, libbfio_error_t **error),
                              ssize_t (*read)(intptr_t *io_handle, uint8_t *buffer, size_t size,
                                              libbfio_error_t **error),
                              ssize_t (*write)(intptr_t *io_handle, const uint8_t *buffer, size_t size,
                                               libbfio_error_t **error),
                              off64_t (*seek_offset)(intptr_t *io_handle, off64_t offset, int whence,
                                                     libbfio_error_t **error),
                              int (*exists)(intptr_t *io_handle, libbfio_error_t **error),
                              int (*is_open)(intptr_t *io_handle, libbfio_error_t **error),
                              int (*get_size)(intptr_t *io_handle, uint64_t *size, libbfio_error_t **error),
                              uint8_t flags, libbfio_error_t **error);
int libbfio_handle_free(libbfio_handle_t **handle, libbfio_error_t **error);

#ifdef __cplusplus
}
#endif
