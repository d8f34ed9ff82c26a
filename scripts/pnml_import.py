#!/usr/bin/env python3
"""Imports a place/transition net in the PNML interchange format as a net
description plus its marking.xml (docs/net-format.md), and exports a
description back to PNML.

    pnml_import.py net.pnml [--timing timing.json] [--name NAME] [--output-dir DIR]
    pnml_import.py --export my.net.json [--marking marking.xml] [--output my.pnml]

Import: places with their initial markings, transitions and arcs with their
inscriptions (multiplicities) become a description DIR/NAME.net.json and
DIR/marking.xml. Timing (kind, delay, weight, priority, server semantics)
and place capacities come from tool-specific elements where the file has
them, else from the side file given with --timing, else from defaults (a
timed transition with delay Exp(1.0)). Without measures in the side file
every place gets a time-average measure of its token count. Everything the
description cannot hold is listed on standard output and in the
description's "comment". The result is checked with the generator's checks.

The side file is JSON: {"transitions": {"<id or name>": {"kind": ...,
"delay": ..., "firingWeight": ..., "priority": ..., "server": ...}},
"places": {"<id or name>": {"capacity": ...}}, "measures": [...]}.

Export writes places, transitions and arcs of a description with int places
(markings counted in marking.xml) and its timing as tool-specific elements,
and lists what PNML cannot hold.

XML is read without DTDs and entities: a document that declares any is
refused before it is parsed.
"""
import argparse
import json
import os
import re
import sys
import xml.etree.ElementTree as ET

import net_description

TOOL = "rira-simulation"
TOOL_VERSION = "1"
PNML_NAMESPACE = "http://www.pnml.org/version-2009/grammar/pnml"
PTNET_TYPE = "http://www.pnml.org/version-2009/grammar/ptnet"
MAX_BYTES = 64 * 1024 * 1024
TIMING_KEYS = ("kind", "delay", "firingWeight", "priority", "server")
DEFAULT_DELAY = "Exp(1.0)"
# Labels that only place an element in a drawing.
LAYOUT_LABELS = ("graphics", "orientation", "position")


class ImportError_(Exception):
    """A file that cannot be imported; the message says why."""


# --- reading XML safely ----------------------------------------------------------------------------

def read_xml(path):
    """The root element of an XML file that declares no DTD and no entity."""
    with open(path, "rb") as f:
        data = f.read(MAX_BYTES + 1)
    if len(data) > MAX_BYTES:
        raise ImportError_("%s is larger than %d bytes" % (path, MAX_BYTES))
    if re.search(rb"<!\s*(DOCTYPE|ENTITY)", data, re.IGNORECASE):
        raise ImportError_("%s declares a DTD or an entity; such documents are not read" % path)
    try:
        return ET.fromstring(data)
    except ET.ParseError as e:
        raise ImportError_("%s is not well-formed XML: %s" % (path, e))


def local(tag):
    """An element's name without its namespace."""
    return tag.rsplit("}", 1)[-1] if isinstance(tag, str) else ""


def children(element, name):
    return [c for c in element if local(c.tag) == name]


def child(element, name):
    found = children(element, name)
    return found[0] if found else None


def label_text(element, name):
    """The text of a label <name><text>...</text></name>, also in the
    <value> form some tools write; None when the label is absent."""
    label = child(element, name)
    if label is None:
        return None
    for inner in ("text", "value"):
        node = child(label, inner)
        if node is not None:
            return (node.text or "").strip()
    if label.get("value") is not None:
        return label.get("value").strip()
    return (label.text or "").strip()


# --- import ----------------------------------------------------------------------------------------

class Importer:
    def __init__(self, root, timing, notes):
        self.notes = notes
        self.timing = timing
        self.root = root
        self.places = []       # dicts: id, label, tokens, capacity
        self.transitions = []  # dicts: id, label, timing
        self.arcs = []         # (source id, target id, multiplicity)
        self.names = {}        # PNML id -> description name
        self.layout = False    # whether the file places elements in a drawing

    def run(self):
        if local(self.root.tag) != "pnml":
            raise ImportError_("the root element is <%s>, not <pnml>" % local(self.root.tag))
        nets = children(self.root, "net")
        if not nets:
            raise ImportError_("the file holds no <net>")
        if len(nets) > 1:
            self.notes.append("the file holds %d nets; only the first (%s) is imported"
                              % (len(nets), nets[0].get("id")))
        net = nets[0]
        kind = net.get("type", "")
        if kind and "ptnet" not in kind.lower() and "p/t" not in kind.lower():
            raise ImportError_("net %s is of type %s, not a place/transition net" % (net.get("id"), kind))
        self.title = label_text(net, "name") or net.get("id") or "net"
        self.references = {}
        self.walk(net)
        self.resolve_references()
        self.name_elements()
        if self.layout:
            self.notes.append("the drawing (positions and graphics) is not carried over")
        return self.description()

    def walk(self, container):
        """Collects the nodes and arcs of a net or page and its subpages."""
        for element in container:
            name = local(element.tag)
            if name == "page":
                self.walk(element)
            elif name == "place":
                self.read_place(element)
            elif name == "transition":
                self.read_transition(element)
            elif name == "arc":
                self.read_arc(element)
            elif name in ("referencePlace", "referenceTransition"):
                self.references[element.get("id")] = element.get("ref")
            elif name == "toolspecific":
                self.notes.append("tool-specific data of tool %s on the net is not carried over" % element.get("tool"))
            elif name == "graphics":
                self.layout = True
            elif name != "name":
                self.notes.append("<%s> of the net is not carried over" % name)

    def read_place(self, element):
        pid = element.get("id")
        place = {"id": pid, "label": label_text(element, "name"), "tokens": 0, "capacity": None}
        marking = label_text(element, "initialMarking")
        if marking:
            # Some tools write "Default,3": the count follows the last comma.
            count = marking.rsplit(",", 1)[-1].strip()
            if re.match(r"^\d+$", count):
                place["tokens"] = int(count)
            else:
                self.notes.append("place %s: initial marking %r is not a number of tokens; it starts empty"
                                  % (pid, marking))
        settings = self.settings(element, "place " + pid)
        if "capacity" in settings:
            capacity = settings.pop("capacity")
            if re.match(r"^\d+$", capacity):
                place["capacity"] = int(capacity)
            else:
                self.notes.append("place %s: capacity %r is not a whole number" % (pid, capacity))
        for key in settings:
            self.notes.append("place %s: %s is not carried over" % (pid, key))
        self.places.append(place)

    def read_transition(self, element):
        tid = element.get("id")
        settings = self.settings(element, "transition " + tid)
        self.transitions.append({"id": tid, "label": label_text(element, "name"), "settings": settings})

    def read_arc(self, element):
        aid = element.get("id")
        kind = label_text(element, "type")
        for tool in children(element, "toolspecific"):
            for c in tool:
                if local(c.tag) == "type":
                    kind = c.get("value") or (c.text or "").strip()
        if kind and kind.lower() not in ("normal", "regular", "standard"):
            self.notes.append("arc %s: %s arcs are not carried over" % (aid, kind))
            return
        for c in element:
            if local(c.tag) in LAYOUT_LABELS:
                self.layout = True
        text = label_text(element, "inscription")
        multiplicity = 1
        if text:
            count = text.rsplit(",", 1)[-1].strip()
            if re.match(r"^\d+$", count) and int(count) > 0:
                multiplicity = int(count)
            else:
                self.notes.append("arc %s: inscription %r is not a positive whole number; the arc is not carried over"
                                  % (aid, text))
                return
        self.arcs.append((element.get("source"), element.get("target"), multiplicity, aid))

    def settings(self, element, what):
        """Timing and capacity values from the element's own labels and its
        tool-specific data: name -> text."""
        found = {}
        known = {"rate", "delay", "distribution", "weight", "firingWeight", "priority", "timed", "kind",
                 "infiniteServer", "server", "capacity"}
        sources = [element] + children(element, "toolspecific")
        for source in sources:
            for c in source:
                name = local(c.tag)
                if name == "graphics" or (source is element and name in LAYOUT_LABELS):
                    self.layout = True
                elif source is element and name in ("name", "initialMarking", "toolspecific"):
                    pass
                elif name in known:
                    value = c.get("value")
                    if value is None:
                        inner = child(c, "value") if child(c, "value") is not None else child(c, "text")
                        value = (inner.text if inner is not None else c.text) or ""
                    found[name] = value.strip()
                elif source is not element:
                    self.notes.append("%s: tool-specific %s of tool %s is not carried over"
                                      % (what, name, source.get("tool")))
                else:
                    self.notes.append("%s: <%s> is not carried over" % (what, name))
        return found

    def resolve_references(self):
        def target(node):
            seen = set()
            while node in self.references and node not in seen:
                seen.add(node)
                node = self.references[node]
            return node
        self.arcs = [(target(s), target(t), m, a) for s, t, m, a in self.arcs]

    def name_elements(self):
        """Description names: the PNML name, else the id, made into a name of
        letters, digits and underscores, unique among places and transitions."""
        used = set()
        for kind, elements in (("place", self.places), ("transition", self.transitions)):
            for e in elements:
                wanted = e["label"] or e["id"]
                name = re.sub(r"[^A-Za-z0-9_]", "_", wanted)
                if not name or not re.match(r"[A-Za-z_]", name[0]):
                    name = ("P_" if kind == "place" else "T_") + name
                base, k = name, 2
                while name in used:
                    name = "%s_%d" % (base, k)
                    k += 1
                used.add(name)
                if name != wanted:
                    self.notes.append("%s %s (%r) is named %s" % (kind, e["id"], wanted, name))
                self.names[e["id"]] = name
                e["name"] = name

    def description(self):
        side_places = self.timing.get("places", {})
        side_transitions = self.timing.get("transitions", {})
        places = []
        for p in self.places:
            entry = {"name": p["name"]}
            side = side_places.get(p["id"], side_places.get(p["name"], {}))
            capacity = side.get("capacity", p["capacity"])
            if capacity:
                entry["capacity"] = capacity
            places.append(entry)
        place_ids = {p["id"] for p in self.places}
        transition_ids = {t["id"] for t in self.transitions}
        inputs = {t["id"]: [] for t in self.transitions}
        outputs = {t["id"]: [] for t in self.transitions}
        for source, target, multiplicity, aid in self.arcs:
            if source in place_ids and target in transition_ids:
                inputs[target].append({"place": self.names[source], "multiplicity": multiplicity})
            elif source in transition_ids and target in place_ids:
                outputs[source].append({"place": self.names[target], "multiplicity": multiplicity})
            else:
                self.notes.append("arc %s does not join a place and a transition; it is not carried over" % aid)
        transitions = []
        for t in self.transitions:
            entry = {"name": t["name"]}
            entry.update(self.timing_of(t, side_transitions.get(t["id"], side_transitions.get(t["name"]))))
            for arc in inputs[t["id"]] + outputs[t["id"]]:
                if arc["multiplicity"] == 1:
                    del arc["multiplicity"]
            if inputs[t["id"]]:
                entry["inputs"] = inputs[t["id"]]
            if outputs[t["id"]]:
                entry["outputs"] = outputs[t["id"]]
            transitions.append(entry)
        measures = self.timing.get("measures")
        if measures is None:
            measures = [{"name": "Tokens_" + p["name"], "kind": "timeAverage", "reward": "#" + p["name"]}
                        for p in self.places]
        net = {"net": re.sub(r"[^A-Za-z0-9_]", "_", self.title), "places": places, "transitions": transitions,
               "measures": measures}
        if self.notes:
            net["comment"] = ["Imported from PNML; not carried over or changed:"] + self.notes
        else:
            net["comment"] = "Imported from PNML."
        marking = [(p["name"], p["tokens"]) for p in self.places if p["tokens"]]
        return net, marking

    def timing_of(self, t, side):
        """The timing keys of one transition: side file first, then the
        file's own values, then the default."""
        if side is not None:
            unknown = [k for k in side if k not in TIMING_KEYS]
            if unknown:
                raise ImportError_("timing of transition %s: unknown key %r (known: %s)"
                                   % (t["id"], unknown[0], ", ".join(TIMING_KEYS)))
            out = dict(side)
            out.setdefault("kind", "timed")
            if out["kind"] == "timed":
                out.setdefault("delay", DEFAULT_DELAY)
            return out
        s = t["settings"]
        out = {}
        timed = s.get("timed", s.get("kind", "true")).lower() not in ("false", "immediate", "0")
        out["kind"] = "timed" if timed else "immediate"
        rate = s.get("rate")
        if "delay" in s or "distribution" in s:
            out["delay"] = s.get("delay") or s.get("distribution")
        elif rate is not None and timed:
            try:
                value = float(rate)
            except ValueError:
                value = -1.0
            if value > 0:
                out["delay"] = "Exp(%s)" % net_description.cpp_double(1.0 / value)
            else:
                self.notes.append("transition %s: rate %r is not a positive number; delay %s"
                                  % (t["id"], rate, DEFAULT_DELAY))
        weight = s.get("firingWeight", s.get("weight", rate if not timed else None))
        if weight is not None:
            try:
                out["firingWeight"] = float(weight)
            except ValueError:
                self.notes.append("transition %s: weight %r is not a number" % (t["id"], weight))
        if "priority" in s:
            if re.match(r"^-?\d+$", s["priority"]):
                out["priority"] = int(s["priority"])
            else:
                self.notes.append("transition %s: priority %r is not a whole number" % (t["id"], s["priority"]))
        server = s.get("server", "infinite" if s.get("infiniteServer", "").lower() == "true" else "single")
        if server != "single":
            out["server"] = server
        if timed and "delay" not in out:
            out["delay"] = DEFAULT_DELAY
            if rate is None:
                self.notes.append("transition %s: no timing in the file; timed with delay %s"
                                  % (t["id"], DEFAULT_DELAY))
        return out


def description_text(net):
    """The description as JSON with one line per place, transition and
    measure."""
    parts = []
    for key, value in net.items():
        if isinstance(value, list) and value:
            items = ",\n".join("    " + json.dumps(v) for v in value)
            parts.append('  %s: [\n%s\n  ]' % (json.dumps(key), items))
        else:
            parts.append("  %s: %s" % (json.dumps(key), json.dumps(value)))
    return "{\n" + ",\n".join(parts) + "\n}\n"


def marking_xml(tokens):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<!-- Initial marking imported from PNML. -->", "<marking>"]
    for place, count in tokens:
        lines += ['  <token place="%s" value="0"/>' % place] * count
    lines.append("</marking>")
    return "\n".join(lines) + "\n"


def import_file(path, timing_path, name, output_dir):
    timing = {}
    if timing_path:
        with open(timing_path, encoding="utf-8") as f:
            timing = json.load(f)
        if not isinstance(timing, dict):
            raise ImportError_("%s must hold a JSON object" % timing_path)
        for key in timing:
            if key not in ("transitions", "places", "measures"):
                raise ImportError_("%s: unknown key %r (known: transitions, places, measures)" % (timing_path, key))
    notes = []
    net, tokens = Importer(read_xml(path), timing, notes).run()
    name = name or re.sub(r"[^A-Za-z0-9_-]", "_", os.path.splitext(os.path.basename(path))[0])
    try:
        net_description.Net(json.loads(json.dumps(net)), name + ".net.json")
    except net_description.ModelError as e:
        raise ImportError_("the imported description is refused: %s (adjust it with --timing)" % e)
    os.makedirs(output_dir, exist_ok=True)
    with open(os.path.join(output_dir, name + ".net.json"), "w", encoding="utf-8") as f:
        f.write(description_text(net))
    with open(os.path.join(output_dir, "marking.xml"), "w", encoding="utf-8") as f:
        f.write(marking_xml(tokens))
    return notes, os.path.join(output_dir, name + ".net.json")


# --- export ----------------------------------------------------------------------------------------

def export_file(description_path, marking_path, output_path):
    with open(description_path, encoding="utf-8") as f:
        data = json.load(f)
    net = net_description.Net(data, os.path.basename(description_path))
    counts = {}
    if marking_path:
        for token in read_xml(marking_path).iter():
            if local(token.tag) == "token" and token.get("place"):
                counts[token.get("place")] = counts.get(token.get("place"), 0) + 1
    notes = []
    ET.register_namespace("", PNML_NAMESPACE)
    q = lambda name: "{%s}%s" % (PNML_NAMESPACE, name)  # noqa: E731
    root = ET.Element(q("pnml"))
    pnml_net = ET.SubElement(root, q("net"), id="net", type=PTNET_TYPE)
    text_label(pnml_net, q, "name", net.name)
    page = ET.SubElement(pnml_net, q("page"), id="page")
    for p in net.places:
        element = ET.SubElement(page, q("place"), id=p.name)
        text_label(element, q, "name", p.name)
        if counts.get(p.name):
            text_label(element, q, "initialMarking", str(counts[p.name]))
        if p.capacity:
            tool = ET.SubElement(element, q("toolspecific"), tool=TOOL, version=TOOL_VERSION)
            ET.SubElement(tool, q("capacity")).text = str(p.capacity)
        if not p.colour.is_int:
            notes.append("place %s holds %s tokens; PNML place/transition nets have black tokens only"
                         % (p.name, p.colour.name))
    for t in net.transitions:
        element = ET.SubElement(page, q("transition"), id=t.name)
        text_label(element, q, "name", t.name)
        tool = ET.SubElement(element, q("toolspecific"), tool=TOOL, version=TOOL_VERSION)
        ET.SubElement(tool, q("kind")).text = t.kind
        if t.delay is not None:
            ET.SubElement(tool, q("delay")).text = t.delay.text()
        ET.SubElement(tool, q("firingWeight")).text = repr(float(t.weight))
        ET.SubElement(tool, q("priority")).text = str(t.priority)
        ET.SubElement(tool, q("server")).text = "infinite" if t.infinite else "single"
        for key, present in (("guard", t.guard), ("globalGuard", t.global_guard), ("timeGuard", t.time_guard),
                             ("display", t.display), ("log", t.log)):
            if present:
                notes.append("transition %s: its %s is not carried over" % (t.name, key))
        arcs = [(a.place.name, t.name, a.multiplicity) for a in t.inputs] + \
            [(t.name, a.place.name, a.multiplicity) for a in t.outputs]
        for k, (source, target, multiplicity) in enumerate(arcs):
            arc = ET.SubElement(page, q("arc"), id="%s_arc%d" % (t.name, k + 1), source=source, target=target)
            if multiplicity != 1:
                text_label(arc, q, "inscription", str(multiplicity))
        for a in t.outputs:
            if a.kind != "new" or a.assignments or a.expression is not None or (a.value not in (None, "0")):
                notes.append("transition %s output to %s: what the token carries is not carried over"
                             % (t.name, a.place.name))
    for m in net.measures:
        notes.append("measure %s is not carried over" % m.name)
    ET.indent(root)
    ET.ElementTree(root).write(output_path, encoding="UTF-8", xml_declaration=True)
    return notes


def text_label(parent, q, name, text):
    label = ET.SubElement(parent, q(name))
    ET.SubElement(label, q("text")).text = text


def main():
    ap = argparse.ArgumentParser(description="Imports a PNML place/transition net as a net description.")
    ap.add_argument("file", help="the PNML file (import) or the description (with --export)")
    ap.add_argument("--timing", help="side file with timing, capacities and measures (JSON)")
    ap.add_argument("--name", help="the name of the description (default: the file's name)")
    ap.add_argument("--output-dir", default=".", help="where the description and marking.xml go")
    ap.add_argument("--export", action="store_true", help="write the description as PNML instead")
    ap.add_argument("--marking", help="with --export: the marking.xml whose int tokens become initial markings")
    ap.add_argument("--output", help="with --export: the PNML file to write (default: <name>.pnml)")
    args = ap.parse_args()
    try:
        if args.export:
            output = args.output or re.sub(r"(\.net)?\.json$", "", args.file) + ".pnml"
            notes = export_file(args.file, args.marking, output)
            print("Wrote %s" % output)
        else:
            notes, written = import_file(args.file, args.timing, args.name, args.output_dir)
            print("Wrote %s and %s" % (written, os.path.join(args.output_dir, "marking.xml")))
    except (ImportError_, OSError, ValueError, net_description.ModelError) as e:
        print("pnml_import.py: %s" % e, file=sys.stderr)
        return 1
    if notes:
        print("Not carried over or changed:")
        for note in notes:
            print("  - " + note)
    return 0


if __name__ == "__main__":
    sys.exit(main())
