/* The toolchain's static libyal parsers carry their file I/O layer inside them, without its header;
 * their own headers only name its handle type, which this program never uses. */
#pragma once

#include <stdint.h>

typedef intptr_t libbfio_handle_t;
