#!/usr/bin/env python3
"""Writes a net made of several independent copies of one net description,
for measuring how the cost of an event grows with the size of the net.

    bench/copy_net.py --description model/workflow.net.json --marking model/marking.xml
                      --copies 10 --name workflow10 --output-dir DIR [--measures first|all]

Every place, transition and measure of copy k is named like the original with
"_c<k>" appended, and gets the original's id plus k times the largest id of
its kind, so that the copies share nothing. DIR receives <name>.net.json (the
description the net generator reads) and marking.xml (the tokens of the
original marking, once per copy).

By default only the first copy keeps the measures: an event then does the
same measure work as in the original net, and what grows with the copies is
the net alone. With --measures all every copy has its own.
"""
import argparse
import copy
import json
import os
import re
import sys
import xml.etree.ElementTree as ET


def suffixed(name, k):
    return "%s_c%d" % (name, k)


def copy_description(net, copies, name, all_measures):
    place_names = {p["name"] for p in net["places"]}
    max_place = max(p["id"] for p in net["places"])
    max_transition = max(t["id"] for t in net["transitions"])
    # A reward refers to a place as "#<name>".
    reference = re.compile(r"#([A-Za-z_][A-Za-z0-9_]*)")

    result = copy.deepcopy(net)
    result["net"] = name
    result["places"], result["transitions"], result["measures"] = [], [], []
    for k in range(copies):
        def rename_place(p):
            return suffixed(p, k) if p in place_names else p

        for p in net["places"]:
            q = copy.deepcopy(p)
            q["name"] = suffixed(p["name"], k)
            q["id"] = p["id"] + k * max_place
            result["places"].append(q)
        for t in net["transitions"]:
            u = copy.deepcopy(t)
            u["name"] = suffixed(t["name"], k)
            u["id"] = t["id"] + k * max_transition
            for arc in u.get("inputs", []) + u.get("outputs", []):
                arc["place"] = rename_place(arc["place"])
            result["transitions"].append(u)
        if k > 0 and not all_measures:
            continue
        for m in net.get("measures", []):
            n = copy.deepcopy(m)
            n["name"] = suffixed(m["name"], k)
            n["places"] = [rename_place(p) for p in m.get("places", [])]
            n["reward"] = reference.sub(lambda g: "#" + rename_place(g.group(1)), m["reward"])
            result["measures"].append(n)
    return result


def copy_marking(path, copies):
    source = ET.parse(path).getroot()
    root = ET.Element("marking")
    for k in range(copies):
        for token in source.iter("token"):
            ET.SubElement(root, "token", place=suffixed(token.get("place"), k), value=token.get("value"))
    ET.indent(root)
    return ET.tostring(root, encoding="unicode", xml_declaration=True) + "\n"


def write_if_changed(path, text):
    # An unchanged file keeps its time stamp, so that the build does not
    # generate and compile the copied net again.
    if os.path.exists(path):
        with open(path) as f:
            if f.read() == text:
                return
    with open(path, "w") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--description", required=True)
    ap.add_argument("--marking", required=True)
    ap.add_argument("--copies", type=int, default=10)
    ap.add_argument("--name", required=True, help="the name of the copied net")
    ap.add_argument("--output-dir", required=True)
    ap.add_argument("--measures", choices=("first", "all"), default="first")
    a = ap.parse_args()
    if a.copies < 1:
        raise SystemExit("--copies must be at least 1")
    with open(a.description) as f:
        net = json.load(f)
    os.makedirs(a.output_dir, exist_ok=True)
    description = copy_description(net, a.copies, a.name, a.measures == "all")
    write_if_changed(os.path.join(a.output_dir, a.name + ".net.json"), json.dumps(description, indent=1) + "\n")
    write_if_changed(os.path.join(a.output_dir, "marking.xml"), copy_marking(a.marking, a.copies))
    return 0


if __name__ == "__main__":
    sys.exit(main())
