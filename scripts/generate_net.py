#!/usr/bin/env python3
"""Generates the C++ classes of a Petri net from its declarative description.

The description is a JSON file (see model/workflow.net.json):

  net          the net's name
  database     dataSource, user, password and marking of the marking database
  colourTypes  "int" (the kernel's Token_int) and record types with typed
               attributes (string, int, DateTime, bool)
  places       id, name, colour, capacity, limitedView, watch and
               initialMarking ("marking.xml", "database" or "none")
  transitions  id, name, kind (timed or immediate), delay, firingWeight,
               priority, watch, server (single or infinite), the input arcs
               (variable, place, multiplicity) and the output arcs (place,
               multiplicity, produced token); optional display, pagePath,
               takeFirst and logfile
  measures     name, kind (accumulative, timeAverage or instantaneous),
               watch, the places the reward reads and the reward expression

The produced token of an output arc is one of
  {"kind": "bound", "variable": "x"}   the bound token itself
  {"kind": "copy", "variable": "x"}    a copy of the bound token
  {"kind": "new"}                      a new token with default attributes
  {"kind": "new", "value": 0}          a new int token
and bound, copied and new record tokens may carry
  "assign": [{"attribute": "tL", "value": 1}, ...]
which sets attributes through the setters before the token is added.

A reward expression combines numbers and token counts #<place> with + - * /
and parentheses, evaluated left to right. Token counts are integers: a sum of
token counts is added as an integer and converted to double afterwards; every
other operation is done in double.

Writes one file per class, named like the class: ImplementedNetClass.h and
buildnet.cpp (net construction, createTokens, copyToken, upcastToken),
Token_<type>.h/.cpp, Transition_<name>.h/.cpp, MeasureObj_<name>.h/.cpp, and
main.cpp. Generated identifiers carry the element name with every underscore
doubled. With --list it prints the names of the files it would write.
"""
import argparse
import json
import os
import re
import sys

LINE_WIDTH = 120
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")

# Firing-delay samplers of the kernel's Delay class and their parameter counts.
DELAYS = {"Exp": 1, "Det": 1, "Uni": 2, "DUni": 2, "Triang": 2, "Norm": 2, "LogNorm": 2, "Wei": 2}

MEASURE_KINDS = ("accumulative", "timeAverage", "instantaneous")

CPP_KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t char32_t class compl const
constexpr const_cast continue decltype default delete do double dynamic_cast else enum explicit export extern false
float for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private
protected public register reinterpret_cast return short signed sizeof static static_assert static_cast struct switch
template this thread_local throw true try typedef typeid typename union unsigned using virtual void volatile wchar_t
while xor xor_eq""".split())
# Names the generated colour classes and transitions use themselves.
RESERVED_ATTRIBUTES = {"value", "locked", "log", "text", "unlock"}
RESERVED_VARIABLES = {"result", "tokens", "binding"}
INITIAL_MARKINGS = ("marking.xml", "database", "none")


class ModelError(Exception):
    pass


# --- C++ helpers ---------------------------------------------------------------------------------

def escaped(name):
    """The identifier form of a model name: every underscore doubled."""
    return name.replace("_", "__")


def cpp_string(text):
    out = []
    for c in text:
        if c in "\\\"":
            out.append("\\" + c)
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif ord(c) < 0x20 or ord(c) == 0x7F:
            out.append("\\%03o" % ord(c))
        else:
            out.append(c)
    return '"' + "".join(out) + '"'


def cpp_bool(value):
    return "true" if value else "false"


def cpp_double(value):
    """The shortest decimal that reads back as the same double."""
    text = repr(float(value))
    if text in ("inf", "-inf", "nan"):
        raise ModelError("not a finite number: %s" % value)
    return text


def flat(node):
    """A layout node is a text, or (opener, items, closer) for a bracketed list."""
    if isinstance(node, str):
        return node
    opener, items, closer = node
    return opener + ", ".join(flat(item) for item in items) + closer


def layout(node, col, tail=""):
    """The lines of `node` followed by `tail`, starting at column `col`: on
    one line when it fits, else its items wrapped after commas and aligned
    after the opener. Continuation lines carry their own indentation."""
    text = flat(node) + tail
    if isinstance(node, str) or col + len(text) <= LINE_WIDTH:
        return [text]
    opener, items, closer = node
    inner = col + len(opener)
    lines = [opener]
    fresh = True  # nothing follows the opener or the indentation yet
    wrapped = False
    for i, item in enumerate(items):
        item_tail = "," if i + 1 < len(items) else closer + tail
        here = (col if len(lines) == 1 else 0) + len(lines[-1]) + (0 if fresh else 1)
        sub = layout(item, here, item_tail)
        if not fresh and (wrapped or len(sub) > 1 or here + len(sub[0]) > LINE_WIDTH):
            lines.append(" " * inner)
            fresh = True
            sub = layout(item, inner, item_tail)
        lines[-1] += ("" if fresh else " ") + sub[0]
        lines.extend(sub[1:])
        fresh = False
        wrapped = len(sub) > 1  # an item that spans lines ends its line
    return lines


def call(indent, head, args, tail=""):
    """`head(args)tail` at `indent`, wrapped when it is wider than a line."""
    lines = layout((head + "(", args, ")"), len(indent), tail)
    return "\n".join([indent + lines[0]] + lines[1:])


def short_function(signature, statement=""):
    """A function with at most one statement: on one line when it fits."""
    one = "%s { %s }" % (signature, statement) if statement else signature + " {}"
    if len(one) <= LINE_WIDTH:
        return one + "\n"
    return "%s {\n%s}\n" % (signature, "    " + statement + "\n" if statement else "")


def header_comment(description):
    return "// Generated by scripts/generate_net.py from %s; do not edit.\n" % description


# --- the model -------------------------------------------------------------------------------------

class Attribute:
    # type: (C++ field type, setter/getter parameter type, default, SQL C type)
    TYPES = {
        "string": ("std::string", "const std::string&", None, "SQL_C_CHAR"),
        "int": ("std::int32_t", "std::int32_t", "0", "SQL_C_SLONG"),
        "DateTime": ("DateTime", "const DateTime&", None, "SQL_C_TYPE_TIMESTAMP"),
        "bool": ("bool", "bool", "false", "SQL_C_BIT"),
    }

    def __init__(self, data, owner):
        self.name = require(data, "name", str, owner)
        self.type = require(data, "type", str, owner)
        check_identifier(self.name, owner, bare=True)
        if self.name in RESERVED_ATTRIBUTES:
            raise ModelError("%s: %r cannot be an attribute name" % (owner, self.name))
        if self.type not in self.TYPES:
            raise ModelError("%s: attribute %s has unknown type %r" % (owner, self.name, self.type))
        self.cpp_type, self.param_type, self.default, self.sql_type = self.TYPES[self.type]

    def literal(self, value, where):
        """A C++ expression of this attribute's type for a value of the description."""
        if self.type == "string" and isinstance(value, str):
            return cpp_string(value)
        if self.type == "int" and isinstance(value, int) and not isinstance(value, bool):
            if not -2**31 <= value < 2**31:
                raise ModelError("%s: %s is outside the 32-bit range" % (where, value))
            return str(value)
        if self.type == "bool" and isinstance(value, bool):
            return cpp_bool(value)
        if self.type == "DateTime" and isinstance(value, str):
            if not re.match(r"^\d\d:\d\d:\d\d@\d\d/\d\d/\d\d\d\d$", value):
                raise ModelError("%s: %r is not a time hh:mm:ss@mm/dd/yyyy" % (where, value))
            return "DateTime(%s)" % cpp_string(value)
        raise ModelError("%s: %r is no value of type %s" % (where, value, self.type))


class ColourType:
    def __init__(self, data):
        self.name = require(data, "name", str, "colour type")
        check_identifier(self.name, "colour type")
        where = "colour type %s" % self.name
        self.is_int = self.name == "int"
        attributes = data.get("attributes", [])
        if self.is_int and attributes:
            raise ModelError("%s: the kernel type has no attributes" % where)
        if not self.is_int and not attributes:
            raise ModelError("%s: a record type needs attributes" % where)
        self.attributes = [Attribute(a, where) for a in attributes]
        unique([a.name for a in self.attributes], where + " attribute")
        self.cls = "Token_int" if self.is_int else "Token_" + self.name
        # The kernel's int type lives with the marking readers; record types
        # are generated next to the net.
        self.header = "input/Token_int.h" if self.is_int else self.cls + ".h"

    def attribute(self, name, where):
        for a in self.attributes:
            if a.name == name:
                return a
        raise ModelError("%s: colour type %s has no attribute %r" % (where, self.name, name))


class Place:
    def __init__(self, data, colours):
        self.id = require(data, "id", int, "place")
        self.name = require(data, "name", str, "place")
        check_identifier(self.name, "place")
        where = "place %s" % self.name
        self.colour = lookup(colours, require(data, "colour", str, where), where, "colour type")
        self.capacity = require(data, "capacity", int, where)
        if self.capacity < 0:
            raise ModelError("%s: negative capacity" % where)
        self.limited_view = require(data, "limitedView", bool, where)
        self.watch = require(data, "watch", bool, where)
        self.initial = require(data, "initialMarking", str, where)
        if self.initial not in INITIAL_MARKINGS:
            raise ModelError("%s: initialMarking must be one of %s" % (where, ", ".join(INITIAL_MARKINGS)))


class InputArc:
    def __init__(self, data, places, where):
        self.variable = require(data, "variable", str, where)
        check_identifier(self.variable, where, bare=True)
        if self.variable in RESERVED_VARIABLES:
            raise ModelError("%s: %r cannot be a variable name" % (where, self.variable))
        self.place = lookup(places, require(data, "place", str, where), where, "place")
        self.multiplicity = require(data, "multiplicity", int, where)
        if self.multiplicity != 1:
            raise ModelError("%s: only arcs of multiplicity 1 are supported" % where)


class OutputArc:
    def __init__(self, data, places, inputs, where):
        self.place = lookup(places, require(data, "place", str, where), where, "place")
        self.multiplicity = require(data, "multiplicity", int, where)
        if self.multiplicity != 1:
            raise ModelError("%s: only arcs of multiplicity 1 are supported" % where)
        token = require(data, "token", dict, where)
        colour = self.place.colour
        self.kind = require(token, "kind", str, where)
        self.input = None
        self.value = None
        if self.kind in ("bound", "copy"):
            variable = require(token, "variable", str, where)
            matches = [a for a in inputs if a.variable == variable]
            if not matches:
                raise ModelError("%s: no input arc binds %r" % (where, variable))
            self.input = matches[0]
            if self.input.place.colour is not colour:
                raise ModelError("%s: %s is of colour %s, the place of colour %s"
                                 % (where, variable, self.input.place.colour.name, colour.name))
            if self.kind == "copy" and colour.is_int:
                raise ModelError("%s: int tokens are not copied" % where)
        elif self.kind == "new":
            if colour.is_int:
                self.value = require(token, "value", int, where)
            elif "value" in token:
                raise ModelError("%s: a new %s token has no value" % (where, colour.name))
        else:
            raise ModelError("%s: token kind must be bound, copy or new" % where)
        self.assignments = []
        for a in token.get("assign", []):
            if colour.is_int:
                raise ModelError("%s: int tokens have no attributes" % where)
            attribute = colour.attribute(require(a, "attribute", str, where), where)
            if "value" not in a:
                raise ModelError("%s: assignment to %s without a value" % (where, attribute.name))
            self.assignments.append((attribute, attribute.literal(a["value"], where)))


class Transition:
    def __init__(self, data, places):
        self.id = require(data, "id", int, "transition")
        self.name = require(data, "name", str, "transition")
        check_identifier(self.name, "transition")
        where = "transition %s" % self.name
        self.kind = require(data, "kind", str, where)
        if self.kind not in ("timed", "immediate"):
            raise ModelError("%s: kind must be timed or immediate" % where)
        self.delay = None
        if self.kind == "timed":
            delay = require(data, "delay", dict, where)
            distribution = require(delay, "distribution", str, where)
            parameters = require(delay, "parameters", list, where)
            if DELAYS.get(distribution) != len(parameters):
                raise ModelError("%s: unknown delay %s with %d parameters" % (where, distribution, len(parameters)))
            if distribution == "DUni":
                if not all(isinstance(p, int) and not isinstance(p, bool) for p in parameters):
                    raise ModelError("%s: DUni takes whole numbers" % where)
                texts = [str(p) for p in parameters]
            else:
                if not all(isinstance(p, (int, float)) and not isinstance(p, bool) for p in parameters):
                    raise ModelError("%s: delay parameters must be numbers" % where)
                texts = [cpp_double(p) for p in parameters]
            self.delay = "%s(%s)" % (distribution, ", ".join(texts))
            self.exp = distribution == "Exp"
        elif data.get("delay") is not None:
            raise ModelError("%s: an immediate transition has no delay" % where)
        else:
            self.exp = False
        self.weight = require(data, "firingWeight", (int, float), where)
        if self.weight < 0:
            raise ModelError("%s: negative firingWeight" % where)
        self.priority = require(data, "priority", int, where)
        self.watch = require(data, "watch", bool, where)
        self.display = optional(data, "display", bool, False, where)
        self.page_path = optional(data, "pagePath", str, "", where)
        self.take_first = optional(data, "takeFirst", bool, False, where)
        logfile = optional(data, "logfile", dict, {}, where)
        self.logfile = (optional(logfile, "name", str, "", where), optional(logfile, "description", str, "", where))
        server = require(data, "server", str, where)
        if server not in ("single", "infinite"):
            raise ModelError("%s: server must be single or infinite" % where)
        self.infinite = server == "infinite"
        self.inputs = [InputArc(a, places, "%s input %d" % (where, i + 1))
                       for i, a in enumerate(require(data, "inputs", list, where))]
        if not self.inputs:
            raise ModelError("%s: a transition needs at least one input arc" % where)
        unique([a.variable for a in self.inputs], where + " variable")
        self.outputs = [OutputArc(a, places, self.inputs, "%s output %d" % (where, i + 1))
                        for i, a in enumerate(require(data, "outputs", list, where))]
        self.cls = "Transition_" + escaped(self.name)

    def arc_places(self):
        """The names of the places on the transition's arcs, each once."""
        names = []
        for arc in self.inputs + self.outputs:
            if arc.place.name not in names:
                names.append(arc.place.name)
        return names

    def fields(self):
        """(field name, arc) of every arc end, inputs first."""
        return ([(a.variable + "_Place", a) for a in self.inputs]
                + [("nona%d_Place" % (k + 1), a) for k, a in enumerate(self.outputs)])


class Measure:
    def __init__(self, data, places):
        self.name = require(data, "name", str, "measure")
        check_identifier(self.name, "measure")
        where = "measure %s" % self.name
        self.kind = require(data, "kind", str, where)
        if self.kind not in MEASURE_KINDS:
            raise ModelError("%s: kind must be one of %s" % (where, ", ".join(MEASURE_KINDS)))
        self.watch = require(data, "watch", bool, where)
        self.reward_text = require(data, "reward", str, where)
        self.reward = parse_reward(self.reward_text, where)
        self.places = []
        collect_places(self.reward, self.places)
        for name in self.places:
            lookup(places, name, where, "place")
        listed = require(data, "places", list, where)
        if listed != self.places:
            raise ModelError("%s: places must list the places the reward reads, in order of first appearance: %s"
                             % (where, ", ".join(self.places)))
        self.cls = "MeasureObj_" + escaped(self.name)
        self.pointer = "measure_" + escaped(self.name)


class Net:
    def __init__(self, data, description):
        self.description = description
        self.name = require(data, "net", str, "net")
        db = require(data, "database", dict, "net")
        self.database = tuple(require(db, key, str, "database") for key in ("dataSource", "user", "password"))
        self.marking = require(db, "marking", int, "database")

        colours = [ColourType(c) for c in require(data, "colourTypes", list, "net")]
        unique([c.name for c in colours], "colour type")
        self.colours = {c.name: c for c in colours}
        self.records = [c for c in colours if not c.is_int]

        self.places = sorted((Place(p, self.colours) for p in require(data, "places", list, "net")),
                             key=lambda p: p.id)
        consecutive([p.id for p in self.places], "place")
        unique([p.name for p in self.places], "place")
        by_name = {p.name: p for p in self.places}

        self.transitions = sorted((Transition(t, by_name) for t in require(data, "transitions", list, "net")),
                                  key=lambda t: t.id)
        consecutive([t.id for t in self.transitions], "transition")
        unique([t.name for t in self.transitions], "transition")

        self.measures = [Measure(m, by_name) for m in optional(data, "measures", list, [], "net")]
        unique([m.name for m in self.measures], "measure")

        # Generated class names must stay distinct.
        unique([c.cls for c in self.records] + [t.cls for t in self.transitions] + [m.cls for m in self.measures],
               "generated class")

    def colour_classes(self):
        """The colour classes the net's code uses: Token_int first, then the records."""
        return ([self.colours["int"]] if "int" in self.colours else []) + self.records

    def arc_count(self):
        return sum(len(t.inputs) + len(t.outputs) for t in self.transitions)


def require(data, key, kind, where):
    if not isinstance(data, dict) or key not in data:
        raise ModelError("%s: missing %r" % (where, key))
    value = data[key]
    kinds = kind if isinstance(kind, tuple) else (kind,)
    if isinstance(value, bool) and bool not in kinds:
        raise ModelError("%s: %r must be %s" % (where, key, " or ".join(k.__name__ for k in kinds)))
    if not isinstance(value, kinds):
        raise ModelError("%s: %r must be %s" % (where, key, " or ".join(k.__name__ for k in kinds)))
    return value


def optional(data, key, kind, default, where):
    return require(data, key, kind, where) if key in data else default


def check_identifier(name, where, bare=False):
    """Names become parts of C++ identifiers; `bare` ones are identifiers by
    themselves."""
    if not IDENTIFIER.match(name):
        raise ModelError("%s: %r is not a name of letters, digits and underscores" % (where, name))
    if bare and name in CPP_KEYWORDS:
        raise ModelError("%s: %r is a C++ keyword" % (where, name))


def lookup(table, name, where, what):
    if name not in table:
        raise ModelError("%s: unknown %s %r" % (where, what, name))
    return table[name]


def unique(names, what):
    seen = set()
    for n in names:
        if n in seen:
            raise ModelError("duplicate %s %r" % (what, n))
        seen.add(n)


def consecutive(ids, what):
    if ids != list(range(1, len(ids) + 1)):
        raise ModelError("%s ids must be 1, 2, 3, ... without gaps or repeats" % what)


# --- reward expressions ----------------------------------------------------------------------------
#
# Nodes: ("num", text), ("place", name), ("neg", node), (op, left, right).

TOKEN = re.compile(r"\s*(?:#([A-Za-z_][A-Za-z0-9_]*)|(\d+\.?\d*(?:[eE][+-]?\d+)?|\.\d+(?:[eE][+-]?\d+)?)|([-+*/()]))")


def parse_reward(text, where):
    tokens = []
    pos = 0
    while pos < len(text):
        if text[pos:].strip() == "":
            break
        m = TOKEN.match(text, pos)
        if not m:
            raise ModelError("%s: cannot read the reward at %r" % (where, text[pos:]))
        if m.group(1):
            tokens.append(("place", m.group(1)))
        elif m.group(2):
            tokens.append(("num", m.group(2)))
        else:
            tokens.append(("op", m.group(3)))
        pos = m.end()
    tokens.append(("end", None))
    state = {"i": 0}

    def peek():
        return tokens[state["i"]]

    def take():
        t = tokens[state["i"]]
        state["i"] += 1
        return t

    def expect_op(op):
        t = take()
        if t != ("op", op):
            raise ModelError("%s: reward %r: expected %r" % (where, text, op))

    def factor():
        t = take()
        if t[0] == "place":
            return ("place", t[1])
        if t[0] == "num":
            return ("num", t[1])
        if t == ("op", "("):
            e = expression()
            expect_op(")")
            return e
        if t == ("op", "-"):
            return ("neg", factor())
        raise ModelError("%s: reward %r is incomplete or malformed" % (where, text))

    def term():
        e = factor()
        while peek() in (("op", "*"), ("op", "/")):
            e = (take()[1], e, factor())
        return e

    def expression():
        e = term()
        while peek() in (("op", "+"), ("op", "-")):
            e = (take()[1], e, term())
        return e

    tree = expression()
    if peek()[0] != "end":
        raise ModelError("%s: reward %r has extra text" % (where, text))
    return tree


def collect_places(node, names):
    if node[0] == "place":
        if node[1] not in names:
            names.append(node[1])
    elif node[0] == "neg":
        collect_places(node[1], names)
    elif node[0] != "num":
        collect_places(node[1], names)
        collect_places(node[2], names)


def is_integer(node):
    if node[0] == "place":
        return True
    return node[0] == "+" and is_integer(node[1]) and is_integer(node[2])


PRECEDENCE = {"+": 1, "-": 1, "*": 2, "/": 2}
ATOM = 4


def emit_reward(node, local):
    """C++ for a reward node and its precedence; `local` names a place's count."""
    kind = node[0]
    if kind == "place":
        return local(node[1]), ATOM
    if kind == "num":
        text = node[1]
        if not re.search(r"[.eE]", text):
            text += ".0"
        return text, ATOM
    if kind == "neg":
        code, prec = as_double(node[1], local, False)
        return "-" + (code if prec >= 3 else "(" + code + ")"), 3
    op, left, right = node
    p = PRECEDENCE[op]
    if is_integer(node):
        lcode, lprec = emit_reward(left, local)
        rcode, rprec = emit_reward(right, local)
    else:
        lcode, lprec = as_double(left, local, becomes_double(right))
        rcode, rprec = as_double(right, local, True)
    if lprec < p:
        lcode = "(" + lcode + ")"
    if rprec <= p:
        rcode = "(" + rcode + ")"
    return "%s %s %s" % (lcode, op, rcode), p


def reward_return(tree, local):
    """The return statement of a reward, broken before its outermost operator
    when it is too long for one line."""
    if is_integer(tree):
        code, _ = emit_reward(tree, local)
        return "    return static_cast<double>(%s);" % code
    code, _ = emit_reward(tree, local)
    line = "    return %s;" % code
    if len(line) <= LINE_WIDTH or tree[0] not in PRECEDENCE:
        return line
    op, left, right = tree
    p = PRECEDENCE[op]
    lcode, lprec = as_double(left, local, becomes_double(right))
    rcode, rprec = as_double(right, local, True)
    if lprec < p:
        lcode = "(" + lcode + ")"
    if rprec <= p:
        rcode = "(" + rcode + ")"
    return "    return %s\n           %s %s;" % (lcode, op, rcode)


def becomes_double(node):
    """Whether a node is a double operand once emitted: every integer operand
    except a single count is converted explicitly."""
    return not is_integer(node) or node[0] != "place"


def as_double(node, local, partner_is_double):
    """C++ for an operand of a double operation. A single count next to a
    double converts by itself; other integer operands are converted
    explicitly, so that a sum of counts is added as an integer first."""
    if not is_integer(node) or (node[0] == "place" and partner_is_double):
        return emit_reward(node, local)
    code, _ = emit_reward(node, local)
    return "static_cast<double>(%s)" % code, ATOM


# --- ImplementedNetClass ---------------------------------------------------------------------------

def net_header(net):
    return header_comment(net.description) + """#pragma once
#include "net/NetClass.h"

// The net "%s": %d places, %d transitions, %d arcs, %d measures.
class ImplementedNetClass : public NetClass {
public:
    ~ImplementedNetClass() override = default;

    // Places, transitions, arcs and measures, then the initial marking read
    // from "marking.xml".
    void buildNet() override;
    // The initial marking of the coloured places from the marking database.
    void createTokens() override;
    Ptr<Token> copyToken(Ptr<Token> t) override;
    Ptr<Token> upcastToken(Ptr<Token> t) override;
};
""" % (net.name, len(net.places), len(net.transitions), net.arc_count(), len(net.measures))


def buildnet_source(net):
    includes = ['"ImplementedNetClass.h"', None, "<initializer_list>", "<iostream>", "<string>", None,
                '"input/GMDB.h"', '"net/Place.h"']
    includes += ['"%s"' % c.header for c in net.colour_classes()]
    includes += ['"%s.h"' % t.cls for t in net.transitions]
    includes += ['"%s.h"' % m.cls for m in net.measures]
    out = [header_comment(net.description)]
    for inc in includes:
        out.append("" if inc is None else "#include %s" % inc)
    out.append("""
using ReferenceCountedSmartPointer::Dynamic_Cast;

namespace {

// The place map of a transition: each place on its arcs, named by itself.
PlaceIdentMap arcPlaces(std::initializer_list<const char*> names) {
    PlaceIdentMap places;
    for (const char* name : names) places.emplace(name, name);
    return places;
}

void createPlace(NetClass* net, int id, const char* name, bool limitedView, unsigned capacity, bool watch) {
    Place* place = new Place(id, name, net, limitedView, capacity);
    place->setWatch(watch);
    net->addPlace(place);
}

void registerTransition(NetClass* net, Transition* transition, bool displaying, bool watch, bool immediate,
                        const char* logfileName, const char* logfileDescription) {
    transition->setDisplaying(displaying);
    transition->setWatch(watch);
    transition->setImmediate(immediate);
    transition->setLogfile(logfileName, logfileDescription);
    net->addTransition(transition);
}

} // namespace
""")
    out.append("void ImplementedNetClass::buildNet() {")
    out.append("    // Places: id, name, limited view, capacity (0: unlimited), watch.")
    for p in net.places:
        out.append(call("    ", "createPlace", ["this", str(p.id), cpp_string(p.name), cpp_bool(p.limited_view),
                                                str(p.capacity), cpp_bool(p.watch)], ";"))
    out.append("")
    out.append("    // Transitions: the constructor takes id, name, net, place map, page path, firing weight,")
    out.append("    // priority, exponential, take first, infinite server and local guard; then displaying,")
    out.append("    // watch, immediate and the log file.")
    for t in net.transitions:
        places = ("arcPlaces({", [cpp_string(n) for n in t.arc_places()], "})")
        ctor = ("new %s(" % t.cls, [str(t.id), cpp_string(t.name), "this", places, cpp_string(t.page_path),
                                     cpp_double(t.weight), str(t.priority), cpp_bool(t.exp), cpp_bool(t.take_first),
                                     cpp_bool(t.infinite), "false"], ")")
        out.append(call("    ", "registerTransition", ["this", ctor, cpp_bool(t.display), cpp_bool(t.watch),
                                                       cpp_bool(t.kind == "immediate"), cpp_string(t.logfile[0]),
                                                       cpp_string(t.logfile[1])], ";"))
    out.append("")
    out.append("    // Arcs, transition by transition: inputs, then outputs.")
    for t in net.transitions:
        for a in t.inputs:
            out.append("    linkPlaceToTransition(%s, %s, %d);" % (cpp_string(a.place.name), cpp_string(t.name),
                                                                   a.multiplicity))
        for a in t.outputs:
            out.append("    linkTransitionToPlace(%s, %s, %d);" % (cpp_string(t.name), cpp_string(a.place.name),
                                                                   a.multiplicity))
    if net.measures:
        out.append("")
        out.append("    // Measures, each registered with the places its reward reads.")
        for m in net.measures:
            out.append("    %s = new %s(this);" % (m.pointer, m.cls))
            for name in m.places:
                out.append("    getPlace(%s)->addMeasure(%s);" % (cpp_string(name), m.pointer))
            out.append("    addMeasure(%s);" % m.pointer)
    xml_places = [p for p in net.places if p.initial == "marking.xml"]
    if xml_places:
        out.append("")
        out.append('    // Initial marking from "marking.xml".')
        for p in xml_places:
            out.append("    %s::addInitialTokens(getPlace(%s));" % (p.colour.cls, cpp_string(p.name)))
    out.append("}")
    out.append("")

    readers = [c for c in net.colour_classes() if not c.is_int]
    if any(p.initial == "database" and p.colour.is_int for p in net.places):
        readers.insert(0, net.colours["int"])
    dsn, user, password = net.database
    out.append("""void ImplementedNetClass::createTokens() {
    GMDB* connection = new GMDB();
    std::cout << "... try to connect to the database : " << %(dsn_text)s << " ...\\n" << std::flush;
    if (connection->DBConnect(%(dsn)s, %(user)s, %(password)s)) {
        std::cout << "... connected !\\n" << std::flush;
        token_info_list tokens;
        token_reference_list references;""" % {
        "dsn_text": cpp_string(dsn), "dsn": cpp_string(dsn), "user": cpp_string(user),
        "password": cpp_string(password)})
    for c in readers:
        out.append("        %s::createTokensFromDB(this, connection, tokens, references);" % c.cls)
    out.append("""        std::cout << "All tokens created." << std::endl;
        connection->DBCloseConnect();
        std::cout << "connection closed." << std::endl;

        for (token_reference* reference : references) {
            Ptr<Token> target = Token::findToken(tokens, reference->tokentypename.c_str(), reference->id);
            reference->token->setReferenceAttribute(reference->attributename.c_str(), target);
            delete reference;
        }
        std::cout << "All token references replaced." << std::endl;

        int added = 0;
        for (token_info* info : tokens) {
            Place* place = getPlace(info->place_name);
            if (place != nullptr) {
                place->addToken(info->token);
                ++added;
            } else {
                std::cout << "Could not find Place '" << info->place_name << "' for " << info->token->content()
                          << std::endl;
            }
            delete info;
        }
        std::cout << added << " tokens added to the net." << std::endl;
        connection->DBCloseConnect();
    }
    delete connection;
}
""")
    out.append("""// A new, independent copy of the token, made by its colour class with the
// transition list kept.
Ptr<Token> ImplementedNetClass::copyToken(Ptr<Token> t) {
    if (t == 0) return Ptr<Token>();
    const std::string type = t->getName();""")
    for c in net.colour_classes():
        out.append("""    if (type == %(name)s) {
        Ptr<%(cls)s> token = Dynamic_Cast<%(cls)s>(t);
        return token == 0 ? Ptr<Token>() : Ptr<Token>(new %(cls)s(*token, true));
    }""" % {"name": cpp_string(c.name), "cls": c.cls})
    out.append("""    return Ptr<Token>();
}

// The same token, checked against the colour class its type name gives.
Ptr<Token> ImplementedNetClass::upcastToken(Ptr<Token> t) {
    if (t == 0) return Ptr<Token>();
    const std::string type = t->getName();""")
    for c in net.colour_classes():
        out.append("    if (type == %s) return Ptr<Token>(Dynamic_Cast<%s>(t));" % (cpp_string(c.name), c.cls))
    out.append("""    return Ptr<Token>();
}""")
    return "\n".join(out) + "\n"


def main_source(net):
    return header_comment(net.description) + """#include "frame/MainClass.h"

int main(int argc, char** argv) {
    MainClass* program = new MainClass();
    program->main(argc, argv);
    delete program;
    return 0;
}
"""


# --- colour classes --------------------------------------------------------------------------------

def token_header(net, colour):
    cls = colour.cls
    getters = []
    setters = []
    fields = []
    for a in colour.attributes:
        ret = a.param_type
        getters.append("    %s get_%s() const { return %s; }" % (ret, a.name, a.name))
        setters.append("    void set_%s(%s value);" % (a.name, a.param_type))
        fields.append("    %s %s%s;" % (a.cpp_type, a.name, " = " + a.default if a.default else ""))
    return header_comment(net.description) + """#pragma once
#include <cstdint>
#include <string>

#include <xercesc/util/XercesDefs.hpp>

#include "base/BlockPool.h"
#include "net/DBRecords.h"
#include "net/Token.h"
#include "time/DateTime.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
XERCES_CPP_NAMESPACE_END

class GMDB;
class NetClass;
class Place;

// Tokens of the colour type "%(name)s".
class %(cls)s : public Token {
public:
    %(cls)s();
    // A copy of every attribute; `copyTransition` decides whether the
    // transition list is copied too.
    %(cls)s(const %(cls)s& %(name)s, bool copyTransition);
    // A plain copy would bypass the token counters: copies state the flag.
    %(cls)s(const %(cls)s&) = delete;
    ~%(cls)s() override = default;
    %(cls)s& operator=(const %(cls)s& %(name)s);

    std::string getName() const override { return %(name_text)s; }
    // "{attribute=value; ...}"; "NULL" while another content() is being built.
    std::string content() const override;

%(getters)s

    // Setters write the new value to the token log when token logging is on.
%(setters)s

    // Sets every attribute from the attributes of one "token" element.
    void readTokenData(xercesc::DOMElement* element);

    // Adds to `place` one token per "token" element of "marking.xml" that
    // names it, in file order.
    static void addInitialTokens(Place* place);
    // Reads the tokens of this colour type in marking %(marking)d of the marking
    // database; the caller places them.
    static void createTokensFromDB(NetClass* net, GMDB* connection, token_info_list& tokens,
                                   token_reference_list& references);

    // Firings create and drop tokens all the time: they come from the block pool.
    USE_BLOCK_POOL(%(cls)s)

private:
    // Guards content() against recursion through tokens that refer to each other.
    static bool locked;

%(fields)s
};
""" % {"name": colour.name, "cls": cls, "name_text": cpp_string(colour.name), "getters": "\n".join(getters),
       "setters": "\n".join(setters), "fields": "\n".join(fields), "marking": net.marking}


def log_value(a, var):
    if a.type == "DateTime":
        return var + ".toString()"
    if a.type == "bool":
        return "(%s ? 1 : 0)" % var
    return var


def token_source(net, colour):
    cls = colour.cls
    name = colour.name
    attrs = colour.attributes
    types = {a.type for a in attrs}
    out = [header_comment(net.description)]
    out.append('#include "%s.h"\n' % cls)
    std = ["<cstdint>"] + (["<cstring>"] if types & {"string", "int", "DateTime"} else []) + \
        ["<iostream>", "<sstream>", "<vector>"]
    out.append("\n".join("#include %s" % s for s in std))
    out.append("""
#include <sql.h>
#include <sqlext.h>

#include "frame/MainClass.h"
#include "input/GMDB.h"
#include "input/XmlMarking.h"
#include "net/Place.h"
""")
    helpers = []
    if "string" in types:
        helpers.append("""// A character column: the text up to the first zero byte, never beyond the buffer.
std::string textFrom(const token_attribute& column) {
    const void* end = std::memchr(column.value, 0, sizeof column.value);
    const std::size_t length =
        end != nullptr ? static_cast<const unsigned char*>(end) - column.value : sizeof column.value;
    return std::string(reinterpret_cast<const char*>(column.value), length);
}""")
    if "int" in types:
        helpers.append("""std::int32_t int32From(const token_attribute& column) {
    std::int32_t value;
    std::memcpy(&value, column.value, sizeof value);
    return value;
}""")
    if "DateTime" in types:
        helpers.append("""// A timestamp column. A date that is no calendar date, such as the zero date
// stored for an unknown value, gives the default time.
DateTime dateTimeFrom(const token_attribute& column) {
    SQL_TIMESTAMP_STRUCT stamp;
    std::memcpy(&stamp, column.value, sizeof stamp);
    const auto month = static_cast<DateTime::month>(stamp.month);
    if (!DateTime::IsValid(month, stamp.day, stamp.year, stamp.hour, stamp.minute, stamp.second)) return DateTime();
    return DateTime(month, stamp.day, stamp.year, stamp.hour, stamp.minute, stamp.second);
}""")
    if "bool" in types:
        helpers.append("""bool bitFrom(const token_attribute& column) { return column.value[0] != 0; }""")
    out.append("namespace {\n\n" + "\n\n".join(helpers) + "\n\n// Clears the recursion guard of content() however the text building ends.\n"
               "struct Unlock {\n    bool& flag;\n    ~Unlock() { flag = false; }\n};\n\n} // namespace\n")
    out.append("bool %s::locked = false;\n" % cls)
    out.append("%s::%s() = default;\n" % (cls, cls))
    init = ",\n".join("      %s(%s.get_%s())" % (a.name, name, a.name) for a in attrs)
    out.append("%s::%s(const %s& %s, bool copyTransition)\n    : Token(%s, copyTransition),\n%s {}\n"
               % (cls, cls, cls, name, name, init))
    body = "\n".join("    %s = %s.get_%s();" % (a.name, name, a.name) for a in attrs)
    out.append("%s& %s::operator=(const %s& %s) {\n    Token::operator=(%s);\n%s\n    return *this;\n}\n"
               % (cls, cls, cls, name, name, body))

    parts = []
    for i, a in enumerate(attrs):
        sep = "" if i == 0 else "; "
        if a.type == "string":
            parts.append('"%s%s=\\"" << %s << "\\""' % (sep, a.name, a.name))
        else:
            parts.append('"%s%s=" << %s' % (sep, a.name, log_value(a, a.name)))
    text_lines = ['    text << "{"']
    for p in parts:
        text_lines.append("         << " + p)
    text_lines[-1] += ' << "}";'
    out.append("""std::string %s::content() const {
    if (locked) return "NULL";
    locked = true;
    Unlock unlock{locked};
    std::ostringstream text;
%s
    return text.str();
}
""" % (cls, "\n".join(text_lines)))

    for a in attrs:
        out.append("""void %(cls)s::set_%(attr)s(%(param)s value) {
    Logging* log = MainClass::getLog();
    if (log->isTokenLogging()) log->getTokenLog() << "set : %(type)s.%(attr)s to " << %(value)s << "\\n";
    %(attr)s = value;
}
""" % {"cls": cls, "attr": a.name, "param": a.param_type, "type": name, "value": log_value(a, "value")})

    conversions = {
        "string": "%s",
        "int": "XmlMarking::toInt32(%s)",
        "DateTime": "XmlMarking::toDateTime(%s)",
        "bool": '%s == "true"',
    }
    lines = []
    for a in attrs:
        read = 'XmlMarking::attribute(element, "%s")' % a.name
        lines.append("    set_%s(%s);" % (a.name, conversions[a.type] % read))
    out.append("""// Absent attributes read as the empty text: 0 for numbers, false for booleans,
// the default time for times.
void %s::readTokenData(xercesc::DOMElement* element) {
%s
}
""" % (cls, "\n".join(lines)))

    out.append("""void %(cls)s::addInitialTokens(Place* place) {
    if (place == nullptr) return;
    XmlMarking::forEachToken(place->getName(), [place](xercesc::DOMElement* element) {
        Ptr<%(cls)s> token(new %(cls)s());
        token->readTokenData(element);
        place->addToken(token);
    });
}
""" % {"cls": cls})

    request = ",\n".join("        new attr_name_type_info{%s, %s}" % (cpp_string(a.name), a.sql_type) for a in attrs)
    reads = {"string": "textFrom", "int": "int32From", "DateTime": "dateTimeFrom", "bool": "bitFrom"}
    sets = "\n".join("            token->set_%s(%s(*columns[%d]));" % (a.name, reads[a.type], i)
                     for i, a in enumerate(attrs))
    signature = call("", "void %s::createTokensFromDB" % cls,
                     ["NetClass*", "GMDB* connection", "token_info_list& tokens", "token_reference_list&"], " {")
    out.append(signature + """
    std::vector<attr_name_type_info*> request{
%(request)s};
    token_description_list result;
    connection->DBReadTokens(%(marking)d, %(name_text)s, &request, &result);
    for (attr_name_type_info* attribute : request) delete attribute;

    for (token_description* description : result.token_descriptions) {
        Ptr<%(cls)s> token(new %(cls)s());
        tokens.push_back(new token_info{%(name_text)s, token, description->id, description->place_name});
        const std::vector<token_attribute*>& columns = description->attributes;
        if (columns.size() == %(count)d) {
%(sets)s
        } else {
            std::cout << "Token " << description->id << " of type %(name)s has " << columns.size()
                      << " attribute values instead of %(count)d; its attributes keep their defaults." << std::endl;
        }
        for (token_attribute* column : columns) delete column;
        delete description;
    }
}
""" % {"cls": cls, "request": request, "marking": net.marking, "name_text": cpp_string(name), "name": name,
       "sets": sets,
       "count": len(attrs)})
    return "\n".join(out)


# --- transitions -----------------------------------------------------------------------------------

TRANSITION_PARAMS = ["int uniqueid", "const char* name", "NetClass* net", "PlaceIdentMap places",
                     "std::string pagePath", "double firingWeight", "int priority", "bool exp", "bool takeFirst",
                     "bool isInfinite", "bool hasLocalGuard"]


def describe_token(arc):
    if arc.kind == "new":
        text = "a new %s %d" % (arc.place.colour.name, arc.value) if arc.value is not None \
            else "a new %s token" % arc.place.colour.name
    elif arc.kind == "copy":
        text = "a copy of " + arc.input.variable
    else:
        text = arc.input.variable
    if arc.assignments:
        text += " with " + ", ".join("%s := %s" % (a.name, v) for a, v in arc.assignments)
    return text


def and_list(items):
    return items[0] if len(items) == 1 else ", ".join(items[:-1]) + " and " + items[-1]


def transition_header(net, t):
    summary = ("%s, delay %s" % (t.kind, t.delay)) if t.delay else t.kind
    inputs = and_list(["%s from %s" % (a.variable, a.place.name) for a in t.inputs])
    outputs = and_list(["%s into %s" % (describe_token(a), a.place.name) for a in t.outputs]) if t.outputs \
        else "nothing"
    comment = wrap_comment("// Transition \"%s\" (%s): takes %s; puts %s." % (t.name, summary, inputs, outputs))
    fields = "\n".join("    Place& %s;" % f for f, _ in t.fields())
    ctor = call("    ", t.cls, TRANSITION_PARAMS, ";")
    return header_comment(net.description) + """#pragma once
#include <string>

#include "net/Transition.h"

class NetClass;
class Place;

%(comment)s
class %(cls)s : public Transition {
public:
%(ctor)s
    ~%(cls)s() override = default;

    Seconds_T getFiringDelay(TokenList& binding) const override;
    Seconds_T Timeguard(const DateTime& now) override;
    bool hasTimeguard() const override;
    void log(TokenList& binding) override;
    double display(TokenList& binding) override;
    // The first combination of tokens of the input places, in marking order.
    TempBindingList* generateBindingList() override;
    bool globalGuard() override;
    void initGlobalGuards() override;
    void moveTokens(TokenList& binding) override;

protected:
%(fields)s
};
""" % {"comment": comment, "cls": t.cls, "ctor": ctor, "fields": fields}


def wrap_comment(text, indent=""):
    words = text[3:].split(" ")
    lines = []
    current = indent + "//"
    for w in words:
        if len(current) + 1 + len(w) > LINE_WIDTH - 10 and current != indent + "//":
            lines.append(current)
            current = indent + "//"
        current += " " + w
    lines.append(current)
    return "\n".join(lines)


def transition_source(net, t):
    cls = t.cls
    colours = [a.place.colour for a in t.inputs] + [a.place.colour for a in t.outputs]
    includes = ['"%s.h"' % cls, None, "<utility>", None, '"net/NetClass.h"', '"net/Place.h"']
    includes += sorted({'"%s"' % c.header for c in colours})
    out = [header_comment(net.description)]
    for inc in includes:
        out.append("" if inc is None else "#include %s" % inc)
    out.append("\nusing ReferenceCountedSmartPointer::Dynamic_Cast;\nusing ReferenceCountedSmartPointer::Is_A;\n")

    signature = call("", "%s::%s" % (cls, cls), TRANSITION_PARAMS)
    base = call("    : ", "Transition", ["uniqueid", "name", "net", "places", "std::move(pagePath)", "firingWeight",
                                         "priority", "exp", "takeFirst", "isInfinite", "hasLocalGuard"], ",")
    inits = [base]
    fields = t.fields()
    for i, (field, arc) in enumerate(fields):
        inits.append("      %s(*net->getPlace(&places, %s))%s"
                     % (field, cpp_string(arc.place.name), "," if i + 1 < len(fields) else " {}"))
    out.append(signature + "\n" + "\n".join(inits) + "\n")
    if t.delay:
        out.append(short_function("Seconds_T %s::getFiringDelay(TokenList&) const" % cls, "return delay.%s;" % t.delay))
    else:
        out.append(short_function("Seconds_T %s::getFiringDelay(TokenList& binding) const" % cls,
                                  "return Transition::getFiringDelay(binding);"))
    out.append(short_function("Seconds_T %s::Timeguard(const DateTime&)" % cls, "return 0.0;"))
    out.append(short_function("bool %s::hasTimeguard() const" % cls, "return false;"))
    out.append(short_function("void %s::log(TokenList&)" % cls))
    out.append(short_function("double %s::display(TokenList&)" % cls, "return 0.0;"))

    # generateBindingList: nested loops over the input markings, first arc outermost.
    lines = ["TempBindingList* %s::generateBindingList() {" % cls,
             "    TempBindingList* result = new TempBindingList();"]
    for a in t.inputs:
        lines.append("    MarkingList& %s_marking = getPlaceMarking(%s_Place);" % (a.variable, a.variable))
    if len(t.inputs) > 1:
        lines.append("    if (%s) return result;" % " || ".join("%s_marking.empty()" % a.variable for a in t.inputs))
    depth = 1
    for a in t.inputs:
        ind = "    " * depth
        lines.append("%sfor (const Ptr<Token>& %s : %s_marking) {" % (ind, a.variable, a.variable))
        lines.append("%s    if (!Is_A<%s>(%s)) continue;" % (ind, a.place.colour.cls, a.variable))
        depth += 1
    ind = "    " * depth
    lines.append("%sTokenList* tokens = new TokenList();" % ind)
    for a in t.inputs:
        lines.append("%stokens->push_back(%s);" % (ind, a.variable))
    lines.append("%sresult->push_back(tokens);" % ind)
    lines.append("%sreturn result;" % ind)
    for d in range(depth - 1, 0, -1):
        lines.append("    " * d + "}")
    lines.append("    return result;")
    lines.append("}")
    out.append("\n".join(lines) + "\n")

    out.append(short_function("bool %s::globalGuard()" % cls, "return true;"))
    out.append(short_function("void %s::initGlobalGuards()" % cls))

    # moveTokens: remove the bound tokens, then produce one token per output arc.
    typed = set()
    for arc in t.outputs:
        if arc.kind == "copy" or (arc.kind == "bound" and arc.assignments):
            typed.add(arc.input.variable)
    lines = ["void %s::moveTokens(TokenList& binding) {" % cls]
    for i, a in enumerate(t.inputs):
        lines.append("    const Ptr<Token>& %s = binding[%d];" % (a.variable, i))
    for a in t.inputs:
        if a.variable in typed:
            lines.append("    Ptr<%s> token_%s = Dynamic_Cast<%s>(%s);" % (a.place.colour.cls, a.variable,
                                                                           a.place.colour.cls, a.variable))
    for a in t.inputs:
        lines.append("    %s_Place.removeToken(%s);" % (a.variable, a.variable))
    for k, arc in enumerate(t.outputs):
        field = "nona%d_Place" % (k + 1)
        colour = arc.place.colour
        if arc.kind == "bound":
            for attribute, value in arc.assignments:
                lines.append("    token_%s->set_%s(%s);" % (arc.input.variable, attribute.name, value))
            lines.append("    %s.addToken(%s);" % (field, arc.input.variable))
            continue
        if arc.kind == "copy":
            made = "new %s(*token_%s, false)" % (colour.cls, arc.input.variable)
        elif colour.is_int:
            made = "new Token_int(%d)" % arc.value
        else:
            made = "new %s()" % colour.cls
        if arc.assignments:
            var = "produced%d" % (k + 1)
            lines.append("    Ptr<%s> %s(%s);" % (colour.cls, var, made))
            for attribute, value in arc.assignments:
                lines.append("    %s->set_%s(%s);" % (var, attribute.name, value))
            lines.append("    %s.addToken(%s);" % (field, var))
        else:
            lines.append("    %s.addToken(Ptr<Token>(%s));" % (field, made))
    lines.append("}")
    out.append("\n".join(lines))
    return "\n".join(out) + "\n"


# --- measures --------------------------------------------------------------------------------------

def measure_header(net, m):
    kinds = {"accumulative": "accumulated", "timeAverage": "time average of", "instantaneous": "current value of"}
    caches = "\n".join("    NetClass::PlaceCache cache_%d;  // %s" % (k + 1, p) for k, p in enumerate(m.places))
    return header_comment(net.description) + """#pragma once
#include "net/NetClass.h"
#include "stats/MeasureObj.h"

class Binding;

%(comment)s
class %(cls)s : public MeasureObj {
public:
    explicit %(cls)s(NetClass* net);
    ~%(cls)s() override = default;

    double measure(double dt) override;
    bool accumulative() override;
    bool timeaverage() override;
    void accum(const Binding* binding, double weight) override;

private:
    // The reward of the current marking.
    double reward();

    // The places the reward reads, looked up by name.
%(caches)s
};

extern %(cls)s* %(pointer)s;
""" % {"comment": wrap_comment('// Measure "%s": %s %s.' % (m.name, kinds[m.kind], m.reward_text)),
       "cls": m.cls, "caches": caches, "pointer": m.pointer}


def measure_source(net, m):
    cls = m.cls
    out = [header_comment(net.description)]
    includes = ['"net/Binding.h"'] if m.kind != "instantaneous" else []
    out.append('#include "%s.h"\n\n%s\n' % (cls, "\n".join("#include " + i for i in includes + ['"net/Place.h"'])))
    out.append("%s* %s = nullptr;\n" % (cls, m.pointer))
    ctor = "%s::%s(NetClass* net) : MeasureObj(%s, net, %s)" % (cls, cls, cpp_string(m.name), cpp_bool(m.watch))
    if m.kind == "instantaneous":
        if len(ctor) + 3 > LINE_WIDTH:
            ctor = "%s::%s(NetClass* net)\n    : MeasureObj(%s, net, %s)" % (cls, cls, cpp_string(m.name),
                                                                           cpp_bool(m.watch))
        out.append(ctor + " {}\n")
    else:
        if len(ctor) + 2 > LINE_WIDTH:
            ctor = "%s::%s(NetClass* net)\n    : MeasureObj(%s, net, %s)" % (cls, cls, cpp_string(m.name),
                                                                           cpp_bool(m.watch))
        out.append(ctor + " {\n    lastTime = 0;\n    firstTime = lastTime;\n    value = 0;\n}\n")

    if m.kind == "accumulative":
        out.append(short_function("double %s::measure(double)" % cls, "return value;"))
    elif m.kind == "timeAverage":
        out.append("""// dt = -1 asks for the average over the whole observation period.
double %s::measure(double dt) {
    if (dt == -1) return lastTime == firstTime ? 0.0 : value / (lastTime - firstTime);
    return dt == 0 ? 0.0 : value / dt;
}
""" % cls)
    else:
        out.append(short_function("double %s::measure(double)" % cls, "return reward();"))
    out.append(short_function("bool %s::accumulative()" % cls, "return %s;" % cpp_bool(m.kind == "accumulative")))
    out.append(short_function("bool %s::timeaverage()" % cls, "return %s;" % cpp_bool(m.kind == "timeAverage")))
    if m.kind == "instantaneous":
        out.append(short_function("void %s::accum(const Binding*, double)" % cls))
    else:
        out.append("""void %s::accum(const Binding* binding, double weight) {
    const double t = binding->getTime().FullDateTime();
    const double dt = t - lastTime;
    lastTime = t;
    value += weight * dt * reward();
}
""" % cls)

    index = {p: k + 1 for k, p in enumerate(m.places)}
    lines = ["// %s" % m.reward_text, "double %s::reward() {" % cls]
    for p in m.places:
        lines.append("    const unsigned n_%s = net->getPlaceCached(%s, cache_%d)->getMarkingSize();"
                     % (p, cpp_string(p), index[p]))
    lines.append(reward_return(m.reward, lambda p: "n_" + p))
    lines.append("}")
    out.append("\n".join(lines))
    return "\n".join(out) + "\n"


# --- files -----------------------------------------------------------------------------------------

def generated_files(net):
    """(file name, text) of every file, in a stable order."""
    files = [("ImplementedNetClass.h", net_header(net)), ("buildnet.cpp", buildnet_source(net))]
    for c in net.records:
        files.append((c.cls + ".h", token_header(net, c)))
        files.append((c.cls + ".cpp", token_source(net, c)))
    for t in net.transitions:
        files.append((t.cls + ".h", transition_header(net, t)))
        files.append((t.cls + ".cpp", transition_source(net, t)))
    for m in net.measures:
        files.append((m.cls + ".h", measure_header(net, m)))
        files.append((m.cls + ".cpp", measure_source(net, m)))
    files.append(("main.cpp", main_source(net)))
    return files


def write_if_changed(path, text):
    """Leaves an unchanged file alone so that its dependants are not rebuilt."""
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    ap = argparse.ArgumentParser(description="Generates the C++ classes of a Petri net.")
    ap.add_argument("--description", required=True, help="the net description (JSON)")
    ap.add_argument("--output-dir", required=True, help="where the generated files go")
    ap.add_argument("--list", action="store_true", help="only print the names of the files")
    args = ap.parse_args()
    try:
        with open(args.description, encoding="utf-8") as f:
            data = json.load(f)
        net = Net(data, os.path.basename(args.description))
        files = generated_files(net)
    except (OSError, ValueError) as e:
        print("generate_net.py: %s: %s" % (args.description, e), file=sys.stderr)
        return 1
    except ModelError as e:
        print("generate_net.py: %s: %s" % (args.description, e), file=sys.stderr)
        return 1
    if args.list:
        for name, _ in files:
            print(name)
        return 0
    os.makedirs(args.output_dir, exist_ok=True)
    for name, text in files:
        write_if_changed(os.path.join(args.output_dir, name), text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
