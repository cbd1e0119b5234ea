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

bool formatDecimal(char* out, size_t size, int value)
{
    char digits[12]; // "-2147483648" and its terminator
    size_t at = sizeof digits;
    digits[--at] = '\0';
    // Works on the magnitude as unsigned, so the most negative value has one.
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        digits[--at] = '-';
    }
    return joinText(out, size, digits + at);
}
