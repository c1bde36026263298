// Internal helpers of ZorTxtList shared by its source files: the stored text
// of an item (inline or in the item's own heap string) and the parts that a
// kind selects.
#pragma once

#include <zorvane/string.h>
#include <zorvane/text_list.h>

namespace zorvane::txt_item {

// The stored text of the item.
inline const char* Text(const sZorTxtItem& it) { return it.longText ? it.longText->CStr() : it.text; }

// Replaces the stored text by n bytes of text (the item's other fields are
// untouched); a text of kInline characters or more goes to a heap string.
void SetText(sZorTxtItem* it, const char* text, uint32_t n);
// Frees the heap string, leaving the empty inline text.
void FreeText(sZorTxtItem* it);
// Gives `to` its own copy of the heap string of a bitwise copy of an item.
void DeepenText(sZorTxtItem* to);

// The part of the kind (see text_list.h); sep goes between identifier and
// text for kind 273.
const char* Part(const sZorTxtItem& it, uint32_t kind, char sep, string* dst);

}  // namespace zorvane::txt_item
