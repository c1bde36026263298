// ZorVerif: a verification report.
//
// The report keeps its sections and items in two vectors, in the order they
// were added; an item refers to its section by number (0: none yet). The
// texts are kept as the bytes given (code page 1252). Section 0 exists from
// the start without a title, so that items and comments added before any
// section have a home; GetNbSection does not count it.
#include <zorvane/exception.h>
#include <zorvane/format.h>
#include <zorvane/string.h>
#include <zorvane/verification.h>

#include "foundation/services/text_source.h"

#include <string>
#include <vector>

namespace zorvane {

namespace {

struct Section {
  std::string title;
  std::string comments;
};

struct Item {
  sZorVerifItem head;
  std::string comment;
  std::string comments;
};

void AppendLine(std::string* block, const char* text) {
  if (!block->empty()) *block += '\n';
  *block += text ? text : "";
}

const char* Give(const std::string& text, string* out) {
  *ZorNotNull(out, "ZorVerif") = string(text.c_str(), static_cast<int32_t>(text.size()));
  return out->CStr();
}

std::string FormatMessage(int32_t module, int32_t group, int32_t id, const ZorFormArgs& args) {
  string text;
  ZorFormStringArgs(&text, module, group, id, args);
  return std::string(text.CStr(), text.Len());
}

}  // namespace

struct ZorVerif::Impl {
  std::vector<Section> sections{Section{}};
  std::vector<Item> items;
};

ZorVerif::ZorVerif() : _impl(new Impl) {}

ZorVerif::~ZorVerif() { delete _impl; }

void ZorVerif::Init(bool repair, int32_t mode) {
  Trash();
  _repair = repair;
  _mode = mode;
}

void ZorVerif::Trash() {
  *_impl = Impl();
  _repair = false;
  _mode = 0;
}

int32_t ZorVerif::AddSection(const char* title) {
  _impl->sections.push_back(Section{title ? title : "", {}});
  return GetNbSection();
}

int32_t ZorVerif::AddSectionMsgArgs(int32_t module, int32_t group, int32_t id, const ZorFormArgs& args) {
  return AddSection(FormatMessage(module, group, id, args).c_str());
}

int32_t ZorVerif::AddItem(eZorVerifType type, const char* comment, int32_t field, int64_t err) {
  _impl->items.push_back(Item{{type, GetNbSection(), field, err}, comment ? comment : "", {}});
  return static_cast<int32_t>(_impl->items.size());
}

int32_t ZorVerif::AddItemMsgArgs(eZorVerifType type, int32_t field, int64_t err, int32_t module, int32_t group,
                                 int32_t id, const ZorFormArgs& args) {
  return AddItem(type, FormatMessage(module, group, id, args).c_str(), field, err);
}

void ZorVerif::AddComment(const char* text) {
  const bool onItem = !_impl->items.empty() && _impl->items.back().head.section == GetNbSection();
  AppendLine(onItem ? &_impl->items.back().comments : &_impl->sections.back().comments, text);
}

int32_t ZorVerif::GetNbSection() const { return static_cast<int32_t>(_impl->sections.size()) - 1; }

const char* ZorVerif::GetSectionTitle(int32_t section, string* out) const {
  if (section < 0 || section > GetNbSection()) return Give({}, out);
  return Give(_impl->sections[section].title, out);
}

const char* ZorVerif::GetSectionComments(int32_t section, string* out) const {
  if (section < 0 || section > GetNbSection()) return Give({}, out);
  return Give(_impl->sections[section].comments, out);
}

int32_t ZorVerif::GetNbItem(int32_t type) const {
  int32_t n = 0;
  for (const Item& item : _impl->items) n += type == 0 || item.head.type == type;
  return n;
}

int32_t ZorVerif::GetNbFault() const {
  return GetNbItem(kZorVerifError) + GetNbItem(kZorVerifAlert) + GetNbItem(kZorVerifAsk) +
         GetNbItem(kZorVerifIrreparable);
}

bool ZorVerif::GetItem(int32_t item, sZorVerifItem* out) const {
  if (item < 1 || item > GetNbItem()) return false;
  *out = _impl->items[item - 1].head;
  return true;
}

const char* ZorVerif::GetItemComment(int32_t item, string* out) const {
  if (item < 1 || item > GetNbItem()) return Give({}, out);
  return Give(_impl->items[item - 1].comment, out);
}

const char* ZorVerif::GetItemComments(int32_t item, string* out) const {
  if (item < 1 || item > GetNbItem()) return Give({}, out);
  return Give(_impl->items[item - 1].comments, out);
}

namespace {

void AppendIndented(std::string* text, const std::string& lines, const char* indent) {
  size_t from = 0;
  while (from < lines.size() || (from == 0 && !lines.empty())) {
    const size_t end = lines.find('\n', from);
    *text += indent;
    *text += lines.substr(from, end == std::string::npos ? std::string::npos : end - from);
    *text += '\n';
    if (end == std::string::npos) break;
    from = end + 1;
  }
}

void AppendItem(std::string* text, const Item& item) {
  string label;
  texts::LoadByKey(1, 121, item.head.type, &label);
  *text += "  ";
  *text += label.CStr();
  *text += ": ";
  *text += item.comment;
  *text += '\n';
  AppendIndented(text, item.comments, "    ");
}

}  // namespace

const char* ZorVerif::GetText(string* out) const {
  std::string text;
  for (size_t s = 0; s < _impl->sections.size(); ++s) {
    const Section& section = _impl->sections[s];
    if (!section.title.empty()) text += section.title + '\n';
    AppendIndented(&text, section.comments, "  ");
    for (const Item& item : _impl->items)
      if (item.head.section == static_cast<int32_t>(s)) AppendItem(&text, item);
  }
  return Give(text, out);
}

}  // namespace zorvane
