#include "text.h"

#include <string.h>

bool joinText(char* out, size_t size, const char* first, const char* second, const char* third)
{
    if (size == 0) {
        return false;
    }
    const char* parts[] = {first, second, third};
    size_t used = 0;
    for (const char* part : parts) {
        size_t length = strlen(part);
        if (length >= size - used) {
            out[0] = '\0';
            return false;
        }
        memcpy(out + used, part, length);
        used += length;
    }
    out[used] = '\0';
    return true;
}
