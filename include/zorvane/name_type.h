// eZorNameType: which of a thing's names is meant (tables, fields, modules).
#pragma once

#include <zorvane/types.h>

namespace zorvane {

enum eZorNameType : int32_t {
  ZorNamePublic = 1,       // the displayed, translated name
  ZorNameDev = 2,          // the developer's name
  ZorNameCId = 3,          // a C identifier
  ZorNameModule = 1000,    // a module's file name (the base name of its library)
  ZorNameVersion = 1001,   // the version text
  ZorNamePubComment = 1002,
  ZorNameDevComment = 1003,
  ZorNameTrigger = 1004,   // the modification trigger text
};

}  // namespace zorvane
