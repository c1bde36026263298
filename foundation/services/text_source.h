// Catalogue texts as the foundation and the storage engine reach them.
//
// The message catalogue and the module registry live in the resources layer,
// above the code that needs their texts (error messages, day and month
// names, log and report texts, a module's name). That layer installs itself
// as the text source when the library is loaded (resources/message_catalogue
// .cpp); until then, and in a program that never installs one, every text is
// empty and the functions below fill `out` with "".
#pragma once

#include <zorvane/types.h>

namespace zorvane {
class string;
}

namespace zorvane::texts {

struct Source {
  // The three look-ups of the public catalogue interface (<zorvane/messages.h>).
  const char* (*load)(int32_t module, int32_t group, int32_t id, string* out);
  const char* (*loadRef)(const char* text, string* out);
  const char* (*loadByKey)(int32_t module, int32_t group, int32_t key, string* out);
  // The text of an entry that the list defines; "" for a hole, where load
  // gives the list's "undefined" text. Valid for the life of the process.
  const char* (*defined)(int32_t module, int32_t group, int32_t id);
  // A module's name of the given kind (an eZorNameType value).
  const char* (*moduleName)(int32_t module, int32_t nameType, string* out);
};

// Installs the source (kept by pointer; it must outlive the process's use).
void Install(const Source* source);

const char* Load(int32_t module, int32_t group, int32_t id, string* out);
const char* LoadRef(const char* text, string* out);
const char* LoadByKey(int32_t module, int32_t group, int32_t key, string* out);
const char* Defined(int32_t module, int32_t group, int32_t id);
const char* ModuleName(int32_t module, int32_t nameType, string* out);

}  // namespace zorvane::texts
