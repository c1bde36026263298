#!/usr/bin/env python3
"""Checks that the library's layers depend downwards only.

    scripts/check_layers.py [ROOT]          fail (exit 1) on an upward include
    scripts/check_layers.py --list [ROOT]   also list every include that
                                            crosses a folder, counted

The order, from the bottom: platform, foundation, storage, resources, tables,
script, interchange, workspace. A file may include headers of its own layer
and of layers below it: internal headers by their folder ("storage/...") and
public headers (<zorvane/X.h>) by the layer that implements them, given in
PUBLIC below. A public header missing from PUBLIC is an error too, so that a
new header is placed in the order when it is added. tools/, tests/, bench/
and fuzz/ stand above every layer and are not checked.
"""
import collections
import os
import re
import sys

LAYERS = ["platform", "foundation", "storage", "resources", "tables", "script", "interchange", "workspace"]
RANK = {name: i for i, name in enumerate(LAYERS)}

# The layer of each public header: where what it declares is implemented.
PUBLIC = {
    "types.h": "platform",
    **{h: "foundation" for h in [
        "string.h", "format.h", "form_args.h", "handle.h", "memory.h", "exception.h", "decimal.h", "date.h",
        "doc_config.h", "event_journal.h", "file_async.h", "file_checksum.h", "file_commands.h", "path.h",
        "global_flags.h", "log_type.h", "phys_type.h", "name_type.h", "md5.h", "messages_bus.h",
        "named_texts.h", "progress.h", "purger.h", "stream.h", "stream_cache.h", "text_list.h", "ui.h",
        "uuid.h", "verification.h", "log_file.h"]},
    **{h: "storage" for h in ["block_array.h", "dynamic_blocks.h", "block_file.h", "block_file_stress.h"]},
    **{h: "resources" for h in [
        "cell_container.h", "messages.h", "module.h", "resource.h", "resource_table.h", "string_list.h"]},
    **{h: "tables" for h in [
        "table_desc.h", "table_key.h", "table.h", "table_store.h", "table_bfile.h", "table_handler.h", "database.h",
        "database_file.h", "list_table.h", "sort.h", "bool_eval.h"]},
    "zip_span.h": "interchange",
    "workspace.h": "workspace",
    "zorvane.h": None,  # the umbrella: for users of the library only
}

INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]')


def includes(root):
    """Yields (file, layer of the file, included name, layer of the include)."""
    for layer in LAYERS:
        base = os.path.join(root, layer)
        for folder, _, names in os.walk(base):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(folder, name)
                for line in open(path, encoding="utf-8", errors="replace"):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(2)
                    if target.startswith("zorvane/"):
                        header = target[len("zorvane/"):]
                        yield path, layer, target, PUBLIC.get(header, "?")
                    elif m.group(1) == '"' and target.split("/")[0] in RANK:
                        yield path, layer, target, target.split("/")[0]


def main():
    args = sys.argv[1:]
    listing = "--list" in args
    args = [a for a in args if a != "--list"]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    faults, crossing = [], collections.Counter()
    for path, layer, target, target_layer in includes(root):
        rel = os.path.relpath(path, root)
        if target_layer == "?":
            faults.append(f"{rel}: <{target}> is not placed in the order (add it to PUBLIC in {sys.argv[0]})")
        elif target_layer is None or RANK[target_layer] > RANK[layer]:
            faults.append(f"{rel}: {layer} includes {target} ({target_layer or 'the umbrella header'})")
        if target_layer != layer:
            crossing[(layer, target_layer or "umbrella")] += 1
    if listing:
        for (a, b), n in sorted(crossing.items(), key=lambda kv: (RANK[kv[0][0]], kv[0][1])):
            arrow = "UP" if b == "umbrella" or b == "?" or RANK.get(b, 99) > RANK[a] else "  "
            print(f"{arrow} {a:>11} -> {b:<11} {n}")
    for f in faults:
        print("upward include:", f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
