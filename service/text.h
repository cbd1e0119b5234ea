// Bounded joining and cutting of strings in fixed buffers.
#ifndef SVCLAUNCH_TEXT_H
#define SVCLAUNCH_TEXT_H

#include <stddef.h>

// Writes first, second and third one after another into out (size bytes,
// terminator included). Returns false, leaving out empty, when the whole
// text would not fit: a value is refused, never cut.
bool joinText(char* out, size_t size, const char* first, const char* second = "", const char* third = "");

// Appends tail to the text already in out (size bytes, terminator
// included); false, leaving out empty, when it does not fit.
bool appendText(char* out, size_t size, const char* tail);

// Writes value in decimal, with a minus sign when negative, into out (size
// bytes, terminator included); false, leaving out empty, when it does not fit.
bool formatDecimal(char* out, size_t size, int value);
bool formatUnsigned(char* out, size_t size, unsigned long value);

// Whether text equals lower, a word in lower case, the case of ASCII letters
// aside: the same in every locale, so that a locale's own rules (Turkish
// dotted and dotless i) never decide what a word means.
bool equalsIgnoringAsciiCase(const char* text, const char* lower);

// Whether text holds no character that Windows allows in no file name: a
// control character or one of " * / : < > ?. Those are below the trail
// bytes of every double-byte code page; | is not, and is let through.
bool isAllowedInNames(const char* text);

// The last c in text, or NULL when there is none.
const char* lastOf(const char* text, char c);

// The extension of the name at the end of path, from its dot; NULL when the
// name has none.
const char* extensionOf(const char* path);

// Cuts s down to its directory: the text before the last backslash found at
// index 2 or later, so that the backslashes that begin \\server or .\ never
// end one; C:\x gives C:. Without such a backslash s is left whole, so a bare
// name is taken as a directory of its own.
void cutToDirectory(char* s);

#endif
