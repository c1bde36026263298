// The invoicing demo's schema: the module's identifier and the numbers of
// its tables, fields and workspace, shared by the resource generator, the
// module and the `zorvane demo` command. The module identifier itself is
// chosen once, in tools/demo_module/CMakeLists.txt (ZOR_DEMO_MODULE_ID).
//
// Fields are numbered in the order the generator adds them; the generator
// stops when a number comes out different, so these enums are the layout.
#pragma once

#include <cstdint>

namespace zorvane::demo {

constexpr int32_t kModuleId = ZOR_DEMO_MODULE_ID;
constexpr const char* kModuleName = "zorvane_demo";
// The databases the demo creates carry this signature: the command replaces
// such a file and refuses any other.
constexpr int32_t kSignature = kModuleId;

enum Table : int32_t { kCustomers = 1, kItems = 2, kInvoices = 3, kLines = 4 };

constexpr int64_t TableId(int32_t table) { return int64_t{kModuleId} << 32 | int64_t{table} << 16; }

enum CustomerField : int32_t { kCustCode = 1, kCustName, kCustCity };
enum ItemField : int32_t { kItemCode = 1, kItemLabel, kItemPrice, kItemRate };
// kInvCustomer holds the customer's UD (a link field of the Long type).
enum InvoiceField : int32_t { kInvNumber = 1, kInvDate, kInvCustomer };
// kLineItem holds the item's code (a text link through the items' code index).
enum LineField : int32_t { kLineInvoice = 1, kLineNumber, kLineItem, kLineQuantity, kLinePrice };

// The workspace "Factures": invoices, their customer, their lines and the
// lines' items. Its resource id is the low word of its identifier.
constexpr int32_t kWorkspace = 1;
constexpr int64_t kWorkspaceId = int64_t{kModuleId} << 32 | kWorkspace;

}  // namespace zorvane::demo
