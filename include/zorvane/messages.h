// The message catalogue: every user-visible text of the library is entry
// (module, group, number) of a string list and is looked up by number.
//
// Texts are code page 1252. A look-up fills the caller's string and returns
// its text, valid until that string changes. A missing entry is not an error:
// the result is the empty text.
#pragma once

#include <zorvane/types.h>

namespace zorvane {

class string;

// The text of message `id` of list `group` of `module`; empty when missing.
ZOR_API const char* ZorLoadString(int32_t module, int32_t group, int32_t id, string* out);
// A text of the form "]m,g,n" (three decimal numbers, none of them zero) is a
// message reference and gives that message; any other text is copied as it
// stands; null gives the empty text.
ZOR_API const char* ZorLoadString(const char* ref, string* out);
// Keyed lists hold entries "<key>:<text>" at places 1, 2, 3 ...: the text
// after the colon of the entry whose key is `key`, searching places 1 to
// 1000 up to the first empty one; empty when none has that key.
ZOR_API const char* ZorLoadStringIndex(int32_t module, int32_t group, int32_t key, string* out);
// The symbolic name of the entry at a place ("Memory" for (1, 2, 1)); empty
// when it has none.
ZOR_API const char* ZorGetStringIndexCst(int32_t module, int32_t group, int32_t place, string* out);

// Reads a message reference "]m,g,n" (the whole text
// must be the reference). False, with the outputs untouched, for any other
// text.
ZOR_API bool ZorParseMessageRef(const char* text, int32_t* module, int32_t* group, int32_t* id);

}  // namespace zorvane
