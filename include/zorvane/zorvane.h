// The umbrella header of the zorvane library: include this and nothing else.
#pragma once

#include <zorvane/types.h>
#include <zorvane/doc_config.h>
#include <zorvane/memory.h>
#include <zorvane/string.h>
#include <zorvane/format.h>
#include <zorvane/handle.h>
#include <zorvane/fsa.h>
#include <zorvane/fsa_cmd.h>
#include <zorvane/exception.h>
#include <zorvane/messages.h>
#include <zorvane/ui.h>
#include <zorvane/log_type.h>
#include <zorvane/decimal.h>
#include <zorvane/date.h>
#include <zorvane/stream.h>
#include <zorvane/md5.h>
#include <zorvane/progress.h>
#include <zorvane/file_checksum.h>
#include <zorvane/wlog.h>
#include <zorvane/global_flags.h>
#include <zorvane/phys_type.h>
#include <zorvane/uuid.h>
#include <zorvane/bget.h>
#include <zorvane/bdyn.h>
#include <zorvane/event_journal.h>
