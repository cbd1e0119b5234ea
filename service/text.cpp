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

bool appendText(char* out, size_t size, const char* tail)
{
    size_t used = strlen(out);
    if (joinText(out + used, size - used, tail)) {
        return true;
    }
    out[0] = '\0';
    return false;
}

// Writes the digits of magnitude, behind a minus sign when negative.
static bool formatMagnitude(char* out, size_t size, unsigned long magnitude, bool negative)
{
    char digits[24]; // a 64-bit magnitude, its sign and its terminator
    size_t at = sizeof digits;
    digits[--at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits[--at] = '-';
    }
    return joinText(out, size, digits + at);
}

bool formatDecimal(char* out, size_t size, int value)
{
    // Works on the magnitude as unsigned, so the most negative value has one.
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    return formatMagnitude(out, size, magnitude, value < 0);
}

bool formatUnsigned(char* out, size_t size, unsigned long value)
{
    return formatMagnitude(out, size, value, false);
}

bool equalsIgnoringAsciiCase(const char* text, const char* lower)
{
    for (;; ++text, ++lower) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *lower) {
            return false;
        }
        if (c == '\0') {
            return true;
        }
    }
}

void cutToDirectory(char* s)
{
    for (int i = static_cast<int>(strlen(s)) - 1; i > 1; --i) {
        if (s[i] == '\\') {
            s[i] = '\0';
            return;
        }
    }
}

bool isAllowedInNames(const char* text)
{
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) < ' ' || lastOf("\"*/:<>?", *text) != NULL) {
            return false;
        }
    }
    return true;
}

const char* lastOf(const char* text, char c)
{
    const char* last = NULL;
    for (; *text != '\0'; ++text) {
        last = *text == c ? text : last;
    }
    return last;
}

const char* extensionOf(const char* path)
{
    const char* name = lastOf(path, '\\');
    return lastOf(name != NULL ? name : path, '.');
}
