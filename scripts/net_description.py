"""Reading and checking of net descriptions (see docs/net-format.md).

A description is a JSON object; Net(data, file name) checks every element
and key and builds the model the code generator emits from. Every mistake
raises ModelError with one line that names the element and the key.
"""
import re

import net_expressions as ex

IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
FILE_NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9_.-]*$")

# Firing-delay samplers of the kernel's Delay class and their parameter counts.
DELAYS = {"Exp": 1, "Det": 1, "Uni": 2, "DUni": 2, "Triang": 2, "Norm": 2, "LogNorm": 2, "Wei": 2}

MEASURE_KINDS = ("accumulative", "timeAverage", "instantaneous")
IMPORTANCE_FUNCTION = "ImportanceFunction"

CPP_KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t char32_t class compl const
constexpr const_cast continue decltype default delete do double dynamic_cast else enum explicit export extern false
float for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private
protected public register reinterpret_cast return short signed sizeof static static_assert static_cast struct switch
template this thread_local throw true try typedef typeid typename union unsigned using virtual void volatile wchar_t
while xor xor_eq""".split())
# Names the generated colour classes use themselves.
RESERVED_ATTRIBUTES = {"value", "locked", "log", "text", "unlock"}
# Names the generated transitions use themselves, and words of the
# expression language.
RESERVED_VARIABLES = {"result", "tokens", "binding", "held", "total", "when", "delay", "file", "taken", "candidate",
                      "index", "token", "copy", "now", "sum", "in", "true", "false", "and", "or", "not"}
# Arcs take at most this many tokens (a sanity bound on generated loops and bindings).
MAX_MULTIPLICITY = 1000000
# Locals of the generated moveTokens.
GENERATED_LOCAL = re.compile(r"^(value|produced|made)\d*(_\d+)?$")
INITIAL_MARKINGS = ("marking.xml", "database", "none")
BINDING_CHOICES = ("first", "random")


class ModelError(Exception):
    pass


def escaped(name):
    """The identifier form of a model name: every underscore doubled."""
    return name.replace("_", "__")


# --- reading keys ----------------------------------------------------------------------------------

def type_names(kinds):
    names = {"int": "int", "float": "a number", "str": "str", "bool": "bool", "list": "list", "dict": "dict"}
    return " or ".join(names.get(k.__name__, k.__name__) for k in kinds)


def require(data, key, kind, where):
    if not isinstance(data, dict) or key not in data:
        raise ModelError("%s: missing %r" % (where, key))
    value = data[key]
    kinds = kind if isinstance(kind, tuple) else (kind,)
    if (isinstance(value, bool) and bool not in kinds) or not isinstance(value, kinds):
        raise ModelError("%s: %r must be %s" % (where, key, " or ".join(k.__name__ for k in kinds)))
    return value


def optional(data, key, kind, default, where):
    return require(data, key, kind, where) if key in data else default


def only_keys(data, keys, where):
    """Refuses keys the element does not have ("comment" is always allowed)."""
    if not isinstance(data, dict):
        raise ModelError("%s must be a JSON object" % where)
    for key in data:
        if key not in keys and key != "comment":
            raise ModelError("%s: unknown key %r (known: %s)" % (where, key, ", ".join(keys)))


def named_element(data, keys, what):
    """Checks the keys of a place, transition or measure; answers its id
    (None when not given), its name and the words that name it in messages."""
    only_keys(data, keys, "%s %s" % (what, data.get("name", "")) if isinstance(data, dict) else what)
    element_id = optional(data, "id", int, None, what) if "id" in keys else None
    name = require(data, "name", str, what)
    check_identifier(name, what)
    return element_id, name, "%s %s" % (what, name)


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


def number_ids(elements, what):
    """Ids are given for every element or for none; without them the order
    of the file counts."""
    given = [e.id is not None for e in elements]
    if any(given) and not all(given):
        raise ModelError("either every %s has an 'id' or none has" % what)
    if not any(given):
        for k, e in enumerate(elements):
            e.id = k + 1
    elements.sort(key=lambda e: e.id)
    if [e.id for e in elements] != list(range(1, len(elements) + 1)):
        raise ModelError("%s ids must be 1, 2, 3, ... without gaps or repeats" % what)


def whole_number(value):
    return isinstance(value, int) and not isinstance(value, bool)


def real_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def cpp_double(value):
    """The shortest decimal that reads back as the same double."""
    text = repr(float(value))
    if text in ("inf", "-inf", "nan"):
        raise ModelError("not a finite number: %s" % value)
    return text


# --- expressions -----------------------------------------------------------------------------------

class Expression:
    """One expression of the description: its text and checked tree."""

    def __init__(self, text, scope, where, key, wanted):
        self.text = text
        try:
            if not isinstance(text, str):
                raise ex.ExpressionError("must be an expression text")
            self.tree = ex.check(ex.parse(text), scope)
            kind = self.tree.type
            if wanted == "bool" and kind != "bool":
                raise ex.ExpressionError("must be a condition (true or false), not %s" % ex.a_type(kind))
            if wanted == "number" and kind not in ("int", "count", "real"):
                raise ex.ExpressionError("must be a number, not %s" % ex.a_type(kind))
            if wanted == "value" and kind not in ("int", "count", "real", "bool"):
                raise ex.ExpressionError("must be a number or a condition, not %s" % ex.a_type(kind))
            if wanted == "int" and kind not in ("int", "count", "bool"):
                raise ex.ExpressionError("must be a whole number, not %s%s" % (ex.a_type(kind),
                                                                             ROUNDING_HINT if kind == "real" else ""))
        except ex.ExpressionError as e:
            raise ModelError("%s: %s %s: %s" % (where, key, quoted(text), e))
        except RecursionError:
            raise ModelError("%s: %s %s: is nested too deeply" % (where, key, quoted(text)))

    def variables(self):
        return ex.variables_read(self.tree)

    def places(self):
        return ex.places_read(self.tree)

    def needs_helpers(self):
        return ex.uses_helpers(self.tree)


ROUNDING_HINT = " (round(), floor() and ceil() give whole numbers)"


def quoted(text):
    return '"%s"' % text if isinstance(text, str) else repr(text)


def token_scope(variables, places=None, clock=False, no_counts="", no_clock=""):
    return ex.Scope(variables=variables, places=places, clock=clock, no_counts=no_counts, no_clock=no_clock)


NO_CLOCK_IN_GUARDS = "guards do not read the clock; times belong in 'timeGuard'"


# --- the model -------------------------------------------------------------------------------------

class Attribute:
    # type: (C++ field type, setter/getter parameter type, default, SQL C type)
    TYPES = {
        "string": ("std::string", "const std::string&", None, "SQL_C_CHAR"),
        "int": ("std::int32_t", "std::int32_t", "0", "SQL_C_SLONG"),
        "real": ("double", "double", "0.0", "SQL_C_DOUBLE"),
        "DateTime": ("DateTime", "const DateTime&", None, "SQL_C_TYPE_TIMESTAMP"),
        "bool": ("bool", "bool", "false", "SQL_C_BIT"),
    }

    def __init__(self, data, owner):
        only_keys(data, ("name", "type"), owner + " attribute")
        self.name = require(data, "name", str, owner)
        self.type = require(data, "type", str, owner)
        check_identifier(self.name, owner, bare=True)
        if self.name in RESERVED_ATTRIBUTES:
            raise ModelError("%s: %r cannot be an attribute name" % (owner, self.name))
        if self.type not in self.TYPES:
            raise ModelError("%s: attribute %s has unknown type %r (types: %s)"
                             % (owner, self.name, self.type, ", ".join(self.TYPES)))
        self.cpp_type, self.param_type, self.default, self.sql_type = self.TYPES[self.type]

    def literal(self, value, where):
        """A C++ expression of this attribute's type for a value of the description."""
        if self.type == "string" and isinstance(value, str):
            return ex.cpp_string(value)
        if self.type == "int" and whole_number(value):
            if not -2**31 <= value < 2**31:
                raise ModelError("%s: %s is outside the 32-bit range" % (where, value))
            return str(value)
        if self.type == "real" and real_number(value):
            return cpp_double(value)
        if self.type == "bool" and isinstance(value, bool):
            return "true" if value else "false"
        if self.type == "DateTime" and isinstance(value, str):
            return date_time_literal(value, where)
        raise ModelError("%s: %r is no value of type %s" % (where, value, self.type))


def date_time_literal(text, where):
    if not re.match(r"^\d\d:\d\d:\d\d@\d\d/\d\d/\d\d\d\d$", text):
        raise ModelError("%s: %r is not a time hh:mm:ss@mm/dd/yyyy" % (where, text))
    return "DateTime(%s)" % ex.cpp_string(text)


class ColourType:
    def __init__(self, data):
        only_keys(data, ("name", "attributes"), "colour type")
        self.name = require(data, "name", str, "colour type")
        check_identifier(self.name, "colour type")
        where = "colour type %s" % self.name
        self.is_int = self.name == "int"
        attributes = optional(data, "attributes", list, [], where)
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


INT_COLOUR = ColourType({"name": "int"})


class Place:
    KEYS = ("id", "name", "colour", "capacity", "limitedView", "watch", "initialMarking")

    def __init__(self, data, colours):
        self.id, self.name, where = named_element(data, self.KEYS, "place")
        self.colour = lookup(colours, optional(data, "colour", str, "int", where), where, "colour type")
        self.capacity = optional(data, "capacity", int, 0, where)
        if self.capacity < 0:
            raise ModelError("%s: negative capacity" % where)
        if self.capacity >= 2**32:
            raise ModelError("%s: capacity beyond 4294967295" % where)
        self.limited_view = optional(data, "limitedView", bool, False, where)
        self.watch = optional(data, "watch", bool, False, where)
        self.initial = optional(data, "initialMarking", str, "marking.xml", where)
        if self.initial not in INITIAL_MARKINGS:
            raise ModelError("%s: initialMarking must be one of %s" % (where, ", ".join(INITIAL_MARKINGS)))


class InputArc:
    KEYS = ("variable", "place", "multiplicity")

    def __init__(self, data, places, where, position):
        only_keys(data, self.KEYS, where)
        self.variable = optional(data, "variable", str, "in%d" % position, where)
        check_identifier(self.variable, where, bare=True)
        if self.variable in RESERVED_VARIABLES or GENERATED_LOCAL.match(self.variable):
            raise ModelError("%s: %r cannot be a variable name" % (where, self.variable))
        self.place = lookup(places, require(data, "place", str, where), where, "place")
        self.multiplicity = optional(data, "multiplicity", int, 1, where)
        if self.multiplicity < 1:
            raise ModelError("%s: 'multiplicity' must be 1 or more" % where)
        if self.multiplicity > MAX_MULTIPLICITY:
            raise ModelError("%s: 'multiplicity' must be at most %d" % (where, MAX_MULTIPLICITY))
        # Names in the generated code: the place, the marking searched, the
        # typed token (multiplicity 1) or the count of tokens taken.
        self.field = self.variable + "_Place"
        self.marking = self.variable + "_marking"
        self.typed = "token_" + self.variable
        self.count = self.variable + "_count"
        self.first = 0  # position of its first token in the binding, set by the transition

    def expression_variable(self):
        return ex.Variable(self.variable, self.place.colour, self.multiplicity)


class Assignment:
    """attribute := value (a literal of the description) or expression."""

    def __init__(self, data, colour, scope, where):
        only_keys(data, ("attribute", "value", "expression"), where)
        self.attribute = colour.attribute(require(data, "attribute", str, where), where)
        where_key = "%s assignment to %s" % (where, self.attribute.name)
        self.literal = None
        self.expression = None
        if ("value" in data) == ("expression" in data):
            raise ModelError("%s: assignment to %s needs either 'value' or 'expression'" % (where, self.attribute.name))
        if "value" in data:
            self.literal = self.attribute.literal(data["value"], where)
        else:
            self.expression, self.literal = attribute_expression(data["expression"], self.attribute, scope, where_key)


def attribute_expression(text, attribute, scope, where_key):
    """An expression for an attribute: (Expression, None), or (None, literal)
    for a time given as a text."""
    wanted = {"int": "int", "real": "number", "DateTime": "number", "bool": "bool", "string": None}[attribute.type]
    if attribute.type == "DateTime" and isinstance(text, str) and re.match(r"^\s*'.*'\s*$", text):
        return None, date_time_literal(text.strip()[1:-1], where_key)
    expression = Expression(text, scope, where_key, "expression", wanted)
    if attribute.type == "string" and expression.tree.type != "string":
        raise ModelError("%s: expression %s: must be a text, not %s" % (where_key, quoted(text),
                                                                      ex.a_type(expression.tree.type)))
    return expression, None


class OutputArc:
    KEYS = ("place", "multiplicity", "token")
    TOKEN_KEYS = ("kind", "variable", "value", "expression", "assign")

    def __init__(self, data, places, inputs, scope, where, position):
        only_keys(data, self.KEYS, where)
        self.place = lookup(places, require(data, "place", str, where), where, "place")
        self.field = "nona%d_Place" % position
        self.position = position
        token = optional(data, "token", dict, {"kind": "new"}, where)
        only_keys(token, self.TOKEN_KEYS, where + " token")
        colour = self.place.colour
        self.kind = optional(token, "kind", str, "new", where)
        self.input = None
        self.value = None        # the C++ literal of a new int token
        self.expression = None   # or the expression of its value
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
                raise ModelError("%s: int tokens are not copied; make a new int token" % where)
            for key in ("value", "expression"):
                if key in token:
                    raise ModelError("%s: a %s token takes no %r" % (where, self.kind, key))
        elif self.kind == "new":
            if colour.is_int:
                if "value" in token and "expression" in token:
                    raise ModelError("%s: a new int token takes 'value' or 'expression', not both" % where)
                if "expression" in token:
                    self.expression = Expression(token["expression"], scope, where, "expression", "int")
                else:
                    value = optional(token, "value", int, 0, where)
                    if not -2**63 <= value < 2**63:
                        raise ModelError("%s: %s is outside the 64-bit range" % (where, value))
                    self.value = str(value)
            elif "value" in token or "expression" in token:
                raise ModelError("%s: a new %s token has no value; set its attributes with 'assign'"
                                 % (where, colour.name))
        else:
            raise ModelError("%s: token kind must be bound, copy or new" % where)
        default = self.input.multiplicity if self.input is not None else 1
        self.multiplicity = optional(data, "multiplicity", int, default, where)
        if self.multiplicity < 1:
            raise ModelError("%s: 'multiplicity' must be 1 or more" % where)
        if self.multiplicity > MAX_MULTIPLICITY:
            raise ModelError("%s: 'multiplicity' must be at most %d" % (where, MAX_MULTIPLICITY))
        if self.kind == "bound" and self.multiplicity != self.input.multiplicity:
            raise ModelError("%s: %s binds %d token(s), so the arc carrying them needs multiplicity %d, "
                             "not multiplicity %d" % (where, self.input.variable, self.input.multiplicity,
                                                      self.input.multiplicity, self.multiplicity))
        if self.kind == "copy" and self.input.multiplicity > 1 and self.multiplicity != self.input.multiplicity:
            raise ModelError("%s: %s binds %d tokens, one copy each needs multiplicity %d"
                             % (where, self.input.variable, self.input.multiplicity, self.input.multiplicity))
        self.assignments = []
        for a in optional(token, "assign", list, [], where):
            if colour.is_int:
                raise ModelError("%s: int tokens have no attributes" % where)
            self.assignments.append(Assignment(a, colour, scope, where))
        unique([a.attribute.name for a in self.assignments], where + " assignment to")

    def expressions(self):
        return ([self.expression] if self.expression else []) + [a.expression for a in self.assignments
                                                                  if a.expression]


class Delay:
    """The firing delay of a timed transition: a distribution of the
    kernel's Delay and its parameters, numbers or expressions."""

    def __init__(self, data, scope, where):
        self.parameters = []  # C++ text of a number, or an Expression
        if isinstance(data, str):
            self.read_text(data, scope, where)
        elif isinstance(data, dict):
            only_keys(data, ("distribution", "parameters"), where + " delay")
            self.distribution = require(data, "distribution", str, where)
            parameters = require(data, "parameters", list, where)
            self.check_count(len(parameters), where)
            for k, p in enumerate(parameters):
                if isinstance(p, str):
                    self.parameters.append(self.expression(p, scope, where, "delay parameter %d" % (k + 1)))
                elif self.distribution == "DUni":
                    if not whole_number(p):
                        raise ModelError("%s: DUni takes whole numbers" % where)
                    self.parameters.append(str(p))
                elif real_number(p):
                    self.parameters.append(cpp_double(p))
                else:
                    raise ModelError("%s: delay parameters must be numbers" % where)
        else:
            raise ModelError("%s: 'delay' must be a text such as \"Exp(2.0)\" or an object "
                             "{\"distribution\": ..., \"parameters\": [...]}" % where)
        self.exp = self.distribution == "Exp"

    def check_count(self, count, where):
        if DELAYS.get(self.distribution) != count:
            raise ModelError("%s: unknown delay %s with %d parameters (delays: %s)"
                             % (where, self.distribution, count,
                                ", ".join("%s with %d" % (d, n) for d, n in DELAYS.items())))

    def read_text(self, text, scope, where):
        try:
            tree = ex.parse(text)
        except ex.ExpressionError as e:
            raise ModelError("%s: delay %s: %s" % (where, quoted(text), e))
        except RecursionError:
            raise ModelError("%s: delay %s: is nested too deeply" % (where, quoted(text)))
        if tree.kind != "call" or tree.args[0] not in DELAYS:
            raise ModelError("%s: delay %s must be a distribution with its parameters, e.g. \"Exp(2.0)\" "
                             "(delays: %s)" % (where, quoted(text), ", ".join(DELAYS)))
        self.distribution = tree.args[0]
        self.check_count(len(tree.args[1]), where)
        for k, argument in enumerate(tree.args[1]):
            part = text_of(argument)
            self.parameters.append(self.expression(part, scope, where, "delay %s parameter %d" % (quoted(text), k + 1)))

    def expression(self, text, scope, where, key):
        return Expression(text, scope, where, key, "int" if self.distribution == "DUni" else "number")

    def expressions(self):
        return [p for p in self.parameters if isinstance(p, Expression)]

    def text(self):
        return "%s(%s)" % (self.distribution, ", ".join(p.text if isinstance(p, Expression) else p
                                                         for p in self.parameters))


def text_of(node):
    """The text of a parsed tree again (for a delay's parameters)."""
    kind, args = node.kind, node.args
    if kind == "num":
        return args[0]
    if kind == "str":
        return "'%s'" % args[0]
    if kind == "bool":
        return "true" if args[0] else "false"
    if kind == "count":
        return "#" + args[0]
    if kind == "var":
        return args[0]
    if kind == "attr":
        return "%s.%s" % (args[0], args[1])
    if kind == "neg":
        return "-(%s)" % text_of(args[0])
    if kind == "not":
        return "not (%s)" % text_of(args[0])
    if kind == "bin":
        return "(%s %s %s)" % (text_of(args[1]), args[0], text_of(args[2]))
    if kind == "cond":
        return "(%s ? %s : %s)" % tuple(text_of(a) for a in args)
    if kind == "call":
        return "%s(%s)" % (args[0], ", ".join(text_of(a) for a in args[1]))
    return "sum(%s in %s : %s)" % (args[0], args[1], text_of(args[2]))


class Transition:
    KEYS = ("id", "name", "kind", "delay", "firingWeight", "priority", "watch", "server", "inputs", "outputs",
            "guard", "globalGuard", "timeGuard", "bindingChoice", "display", "log", "logfile", "pagePath",
            "takeFirst")

    def __init__(self, data, places):
        self.id, self.name, where = named_element(data, self.KEYS, "transition")
        self.where = where
        self.kind = require(data, "kind", str, where)
        if self.kind not in ("timed", "immediate"):
            raise ModelError("%s: kind must be timed or immediate" % where)
        server = optional(data, "server", str, "single", where)
        if server not in ("single", "infinite"):
            raise ModelError("%s: server must be single or infinite" % where)
        self.infinite = server == "infinite"

        self.inputs = [InputArc(a, places, "%s input %d" % (where, i + 1), i + 1)
                       for i, a in enumerate(optional(data, "inputs", list, [], where))]
        unique([a.variable for a in self.inputs], where + " variable")
        position = 0
        for a in self.inputs:
            a.first = position
            position += a.multiplicity
        self.binding_size = position
        self.check_inputs(where)
        variables = {a.variable: a.expression_variable() for a in self.inputs}

        # What each key may read.
        self.guard = self.optional_expression(data, "guard", token_scope(
            variables, no_counts="a binding guard reads the bound tokens only; conditions on token counts belong "
                                 "in 'globalGuard'", no_clock=NO_CLOCK_IN_GUARDS), "bool")
        self.global_guard = self.optional_expression(data, "globalGuard", ex.Scope(
            places=places, no_tokens="a global guard reads token counts and sums over places only; conditions on "
                                     "the bound tokens belong in 'guard'", no_clock=NO_CLOCK_IN_GUARDS), "bool")
        self.time_guard = self.optional_expression(data, "timeGuard", ex.Scope(
            clock=True, no_tokens="a time guard reads the clock 'now' only",
            no_counts="a time guard reads the clock 'now' only"), "number")
        firing_scope = token_scope(variables, places=places, clock=True)

        self.delay = None
        if self.kind == "timed":
            self.delay = Delay(require(data, "delay", (str, dict), where), token_scope(
                variables, no_counts="a firing delay reads the bound tokens only: it is drawn once, when the "
                                     "binding is made, and not again when the marking changes",
                no_clock="a firing delay does not read the clock; times belong in 'timeGuard'"), where)
        elif data.get("delay") is not None:
            raise ModelError("%s: an immediate transition has no delay" % where)
        self.exp = self.delay is not None and self.delay.exp

        self.weight = optional(data, "firingWeight", (int, float), 1.0, where)
        if self.weight < 0:
            raise ModelError("%s: negative firingWeight" % where)
        cpp_double(self.weight)
        self.priority = optional(data, "priority", int, 1 if self.kind == "immediate" else 0, where)
        if not -2**31 <= self.priority < 2**31:
            raise ModelError("%s: 'priority' is outside the 32-bit range" % where)
        self.watch = optional(data, "watch", bool, False, where)
        self.page_path = optional(data, "pagePath", str, "", where)
        self.take_first = optional(data, "takeFirst", bool, False, where)
        self.choice = optional(data, "bindingChoice", str, "first", where)
        if self.choice not in BINDING_CHOICES:
            raise ModelError("%s: bindingChoice must be first or random" % where)

        display = optional(data, "display", (bool, str), False, where)
        self.displaying = display is not False
        self.display = Expression(display, firing_scope, where, "display", "value") if isinstance(display, str) \
            else None
        logfile = optional(data, "logfile", dict, {}, where)
        only_keys(logfile, ("name", "description"), where + " logfile")
        self.logfile = (optional(logfile, "name", str, "", where), optional(logfile, "description", str, "", where))
        if self.logfile[0] and not FILE_NAME.match(self.logfile[0]):
            raise ModelError("%s: logfile name %r must be a file name without folders" % (where, self.logfile[0]))
        self.log = [Expression(text, firing_scope, where, "log", None)
                    for text in optional(data, "log", list, [], where)]
        if "log" in data and not self.logfile[0]:
            raise ModelError("%s: 'log' needs a 'logfile' with a name" % where)

        self.outputs = [OutputArc(a, places, self.inputs, firing_scope, "%s output %d" % (where, i + 1), i + 1)
                        for i, a in enumerate(optional(data, "outputs", list, [], where))]
        bound = {}
        for arc in self.outputs:
            if arc.kind == "bound":
                if arc.input.variable in bound:
                    raise ModelError("%s output %d: %s already goes into %s (output %d); a token lies in one place "
                                     "only, so put a copy here" % (where, arc.position, arc.input.variable,
                                                                   bound[arc.input.variable].place.name,
                                                                   bound[arc.input.variable].position))
                bound[arc.input.variable] = arc
        self.cls = "Transition_" + escaped(self.name)
        self.read_fields = self.place_fields(places)
        self.check_names(where)

    def check_inputs(self, where):
        if not self.inputs:
            if self.kind != "timed" or self.infinite:
                raise ModelError("%s: a transition without input arcs must be timed and single-server (it would "
                                 "fire without end)" % where)
        if self.infinite:
            for a in self.inputs:
                if a.place.limited_view:
                    raise ModelError("%s: place %s has a limited view, which infinite-server transitions do not "
                                     "honour" % (where, a.place.name))

    def optional_expression(self, data, key, scope, wanted):
        if key not in data:
            return None
        return Expression(data[key], scope, self.where, key, wanted)

    def expressions(self):
        """Every expression of the transition."""
        out = [e for e in (self.guard, self.global_guard, self.time_guard, self.display) if e is not None]
        if self.delay is not None:
            out += self.delay.expressions()
        out += self.log
        for arc in self.outputs:
            out += arc.expressions()
        return out

    def place_fields(self, places):
        """The field of every place an expression reads (`field_of`): the
        field of its first arc, else a field of its own; answers those
        (field, place) of their own."""
        self.field_of = {}
        for arc in self.inputs + self.outputs:
            self.field_of.setdefault(arc.place.name, arc.field)
        extra = []
        for e in self.expressions():
            for name in e.places():
                if name not in self.field_of:
                    field = escaped(name) + "_Read"
                    self.field_of[name] = field
                    extra.append((field, places[name]))
        return extra

    def fields(self):
        """(field name, place) of every arc end, inputs first, then of the
        places that only expressions read."""
        return ([(a.field, a.place) for a in self.inputs] + [(a.field, a.place) for a in self.outputs]
                + self.read_fields)

    def check_names(self, where):
        """The generated code names fields and locals after the variables:
        no two of those names may meet."""
        owners = []
        for a in self.inputs:
            owners.append((a.variable, "variable " + a.variable))
            owners += [(n, "variable " + a.variable) for n in (a.field, a.marking, a.typed, a.count)]
        owners += [(arc.field, "output %d" % arc.position) for arc in self.outputs]
        owners += [(field, "place " + place.name) for field, place in self.read_fields]
        seen = {}
        for name, owner in owners:
            if name in seen and seen[name] != owner:
                raise ModelError("%s: the generated code would name two things %s (for %s and for %s); "
                                 "rename a variable" % (where, name, seen[name], owner))
            seen[name] = owner

    def variable_names(self):
        return {a.variable for a in self.inputs}

    def arc_places(self):
        """The names of the places the transition's code reaches, each once:
        those on its arcs, then those only its expressions read."""
        names = []
        for arc in self.inputs + self.outputs:
            if arc.place.name not in names:
                names.append(arc.place.name)
        return names + [place.name for _, place in self.read_fields]

    def kernel_arcs(self, arcs):
        """One kernel arc per place: several arcs between a place and this
        transition become one whose multiplicity is their sum."""
        merged = {}
        for a in arcs:
            merged[a.place.name] = merged.get(a.place.name, 0) + a.multiplicity
        return list(merged.items())


class Measure:
    KEYS = ("name", "kind", "watch", "places", "reward")

    def __init__(self, data, places):
        _, self.name, where = named_element(data, self.KEYS, "measure")
        self.kind = require(data, "kind", str, where)
        if self.kind not in MEASURE_KINDS:
            raise ModelError("%s: kind must be one of %s" % (where, ", ".join(MEASURE_KINDS)))
        self.importance = self.name == IMPORTANCE_FUNCTION
        if self.importance and self.kind != "timeAverage":
            raise ModelError("%s: the importance function of RESTART must be of kind timeAverage" % where)
        self.watch = optional(data, "watch", bool, False, where)
        self.reward = Expression(require(data, "reward", str, where), ex.Scope(
            places=places, no_tokens="a reward reads the marking: token counts #P and sums over places",
            no_clock="a reward does not read the clock"), where, "reward", "value")
        self.reward_text = self.reward.text
        self.places = self.reward.places()
        if "places" in data:
            listed = require(data, "places", list, where)
            if listed != self.places:
                raise ModelError("%s: places must list the places the reward reads, in order of first appearance: %s"
                                 % (where, ", ".join(self.places)))
        self.cls = "MeasureObj_" + escaped(self.name)
        self.pointer = "measure_" + escaped(self.name)


class Net:
    KEYS = ("net", "database", "colourTypes", "places", "transitions", "measures")

    def __init__(self, data, description):
        only_keys(data, self.KEYS, "net")
        self.description = description
        self.name = require(data, "net", str, "net")
        self.database = None
        if "database" in data:
            db = require(data, "database", dict, "net")
            only_keys(db, ("dataSource", "user", "password", "marking"), "database")
            self.database = tuple(require(db, key, str, "database") for key in ("dataSource", "user", "password"))
            self.marking = require(db, "marking", int, "database")
        else:
            self.marking = 1

        colours = [ColourType(c) for c in optional(data, "colourTypes", list, [{"name": "int"}], "net")]
        unique([c.name for c in colours], "colour type")
        self.colours = {"int": INT_COLOUR}
        self.colours.update({c.name: c for c in colours})
        self.records = [c for c in colours if not c.is_int]

        self.places = [Place(p, self.colours) for p in require(data, "places", list, "net")]
        unique([p.name for p in self.places], "place")
        number_ids(self.places, "place")
        by_name = {p.name: p for p in self.places}
        self.places_by_name = by_name
        for p in self.places:
            if p.initial == "database" and self.database is None:
                raise ModelError("place %s: initialMarking database needs the net's 'database' entry" % p.name)

        self.transitions = [Transition(t, by_name) for t in require(data, "transitions", list, "net")]
        unique([t.name for t in self.transitions], "transition")
        number_ids(self.transitions, "transition")

        self.measures = [Measure(m, by_name) for m in optional(data, "measures", list, [], "net")]
        unique([m.name for m in self.measures], "measure")

        # Generated class names must stay distinct.
        unique([c.cls for c in self.records] + [t.cls for t in self.transitions] + [m.cls for m in self.measures],
               "generated class")

    def place(self, name):
        return self.places_by_name[name]

    def colour_classes(self):
        """The colour classes the net's code uses: Token_int first, then the records."""
        return [self.colours["int"]] + self.records

    def arc_count(self):
        return sum(len(t.inputs) + len(t.outputs) for t in self.transitions)

    def needs_helpers(self):
        return any(e.needs_helpers() for t in self.transitions for e in t.expressions()) or \
            any(m.reward.needs_helpers() for m in self.measures)
