"""The expression language of net descriptions.

Guards, firing-delay parameters, output token values, rewards, display and
log values are all written in one small language. A text is parsed once into
a tree of Nodes, checked against the Scope of the key where it stands (which
token variables, places and clock it may read) and given a type, and emitted
as plain C++ through an Access that knows how the generated code reaches
tokens, token counts and the clock at that point. Nothing is ever evaluated
by Python.

Types: bool, int (64-bit in the generated code), count (a token count: a
non-negative int), real (double) and string. A count stays an integer only in
sums of counts; every other operation on a count is done in real numbers, so
that a difference of counts never wraps around. Division always gives a real.
"""
import re


class ExpressionError(Exception):
    """A mistake in one expression; the caller names the element and key."""


# --- reading ---------------------------------------------------------------------------------------

LEXEME = re.compile(r"""\s*(?:
    (?P<count>\#[A-Za-z_][A-Za-z0-9_]*)
  | (?P<real>(?:\d+\.\d*|\.\d+)(?:[eE][+-]?\d+)?|\d+[eE][+-]?\d+)
  | (?P<int>\d+)
  | (?P<string>'[^']*'|"[^"]*")
  | (?P<name>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<op><=|>=|==|!=|&&|\|\||[-+*/()<>!?:,.])
)""", re.X)

WORD_OPERATORS = {"and": "and", "or": "or", "not": "not", "&&": "and", "||": "or", "!": "not"}
COMPARISONS = ("<", "<=", ">", ">=", "==", "!=")


class Node:
    """One node of an expression tree. `kind` is one of num, str, bool,
    count, var, attr, neg, not, bin, cond, call, sum; `args` its operands.
    The checker sets `type` and, where tokens are read, `colour`."""

    def __init__(self, kind, *args):
        self.kind = kind
        self.args = list(args)
        self.type = None
        self.colour = None

    def __repr__(self):
        return "Node(%s, %s)" % (self.kind, ", ".join(repr(a) for a in self.args))


def tokenize(text):
    out = []
    pos = 0
    while pos < len(text):
        if text[pos:].strip() == "":
            break
        m = LEXEME.match(text, pos)
        if not m:
            rest = text[pos:].strip()
            if rest.startswith("=") and not rest.startswith("=="):
                raise ExpressionError("use == to compare, at %r" % rest)
            raise ExpressionError("cannot read %r" % rest)
        kind = m.lastgroup
        value = m.group(kind)
        if kind == "name" and value in WORD_OPERATORS:
            kind, value = "op", WORD_OPERATORS[value]
        elif kind == "op" and value in WORD_OPERATORS:
            value = WORD_OPERATORS[value]
        out.append((kind, value, m.start(kind)))
        pos = m.end()
    out.append(("end", None, len(text)))
    return out


class Parser:
    """Precedence from low to high: c ? a : b; or; and; not; comparisons
    (not chained); + -; * /; unary minus; operands."""

    def __init__(self, text):
        self.text = text
        self.tokens = tokenize(text)
        self.i = 0

    def parse(self):
        tree = self.conditional()
        kind, value, at = self.peek()
        if kind != "end":
            raise ExpressionError("has extra text at %r" % self.text[at:])
        return tree

    def peek(self):
        return self.tokens[self.i]

    def take(self):
        t = self.tokens[self.i]
        self.i += 1
        return t

    def at_op(self, *ops):
        kind, value, _ = self.peek()
        return kind == "op" and value in ops

    def expect(self, op):
        kind, value, at = self.take()
        if kind != "op" or value != op:
            found = "the end" if kind == "end" else repr(self.text[at:])
            raise ExpressionError("is incomplete or malformed: expected %r at %s" % (op, found))

    def conditional(self):
        condition = self.disjunction()
        if not self.at_op("?"):
            return condition
        self.take()
        then = self.conditional()
        self.expect(":")
        return Node("cond", condition, then, self.conditional())

    def left_associative(self, operators, operand):
        e = operand()
        while self.at_op(*operators):
            op = self.take()[1]
            e = Node("bin", op, e, operand())
        return e

    def disjunction(self):
        return self.left_associative(("or",), self.conjunction)

    def conjunction(self):
        return self.left_associative(("and",), self.negation)

    def negation(self):
        if self.at_op("not"):
            self.take()
            return Node("not", self.negation())
        return self.comparison()

    def comparison(self):
        e = self.additive()
        if self.at_op(*COMPARISONS):
            op = self.take()[1]
            e = Node("bin", op, e, self.additive())
            if self.at_op(*COMPARISONS):
                raise ExpressionError("chains comparisons; join them with 'and'")
        return e

    def additive(self):
        return self.left_associative(("+", "-"), self.multiplicative)

    def multiplicative(self):
        return self.left_associative(("*", "/"), self.unary)

    def unary(self):
        if self.at_op("-"):
            self.take()
            return Node("neg", self.unary())
        return self.operand()

    def operand(self):
        kind, value, at = self.take()
        if kind == "int":
            return Node("num", value, True)
        if kind == "real":
            return Node("num", value, False)
        if kind == "string":
            return Node("str", value[1:-1])
        if kind == "count":
            return Node("count", value[1:])
        if kind == "name":
            if value in ("true", "false"):
                return Node("bool", value == "true")
            if self.at_op("("):
                self.take()
                if value == "sum":
                    return self.sum_over()
                args = []
                if not self.at_op(")"):
                    args.append(self.conditional())
                    while self.at_op(","):
                        self.take()
                        args.append(self.conditional())
                self.expect(")")
                return Node("call", value, args)
            if self.at_op("."):
                self.take()
                k, attribute, a = self.take()
                if k != "name":
                    raise ExpressionError("is incomplete or malformed: expected an attribute name after %r." % value)
                return Node("attr", value, attribute)
            return Node("var", value)
        if kind == "op" and value == "(":
            e = self.conditional()
            self.expect(")")
            return e
        found = "the end" if kind == "end" else repr(self.text[at:])
        raise ExpressionError("is incomplete or malformed: expected an operand at %s" % found)

    def sum_over(self):
        """sum(v in Place : expression), after "sum(" """
        k, variable, _ = self.take()
        k2, word, _ = self.take()
        k3, place, _ = self.take()
        if k != "name" or k2 != "name" or word != "in" or k3 != "name":
            raise ExpressionError("is incomplete or malformed: write sum(t in Place : expression)")
        self.expect(":")
        body = self.conditional()
        self.expect(")")
        return Node("sum", variable, place, body)


def parse(text):
    if not isinstance(text, str) or text.strip() == "":
        raise ExpressionError("is empty")
    return Parser(text).parse()


# --- checking --------------------------------------------------------------------------------------

NUMERIC = ("int", "count", "real", "bool")
REAL_FUNCTIONS = {"sqrt": 1, "exp": 1, "log": 1, "pow": 2}
INT_FUNCTIONS = {"floor": 1, "ceil": 1, "round": 1}
DELAY_NAMES = ("Exp", "Det", "Uni", "DUni", "Triang", "Norm", "LogNorm", "Wei")
FUNCTION_NAMES = sorted(["min", "max", "abs", "mod", "window"] + list(REAL_FUNCTIONS) + list(INT_FUNCTIONS))


class Variable:
    """A token variable an expression may read: `colour` of its tokens and
    the multiplicity of its arc."""

    def __init__(self, name, colour, multiplicity=1):
        self.name = name
        self.colour = colour
        self.multiplicity = multiplicity


class Scope:
    """What an expression may read where it stands. Each refusal carries the
    reason the description's author needs."""

    def __init__(self, variables=None, places=None, clock=False, no_tokens="", no_counts="", no_clock=""):
        self.variables = variables  # name -> Variable, or None: no token may be read
        self.places = places        # name -> place, or None: no token count may be read
        self.clock = clock
        self.no_tokens = no_tokens
        self.no_counts = no_counts
        self.no_clock = no_clock

    def with_variable(self, variable):
        inner = Scope(dict(self.variables or {}), self.places, self.clock, self.no_tokens, self.no_counts,
                      self.no_clock)
        inner.variables[variable.name] = variable
        return inner


def a_type(kind):
    """A type name with its article, for messages."""
    return {"int": "an int", "count": "a count", "real": "a real", "bool": "a condition",
            "string": "a text"}.get(kind, kind)


def unify_numbers(types):
    """The common type of numeric operands (bool counts as int)."""
    if "real" in types:
        return "real"
    if all(t == "count" for t in types):
        return "count"
    return "int"


def check(node, scope):
    """Sets the type of every node of the tree; refuses what the scope does
    not allow and every ill-typed operation."""
    kind = node.kind
    if kind == "num":
        node.type = "int" if node.args[1] else "real"
        if node.args[1] and int(node.args[0]) >= 2 ** 63:
            raise ExpressionError("%s is too large for a whole number" % node.args[0])
    elif kind == "str":
        node.type = "string"
    elif kind == "bool":
        node.type = "bool"
    elif kind == "count":
        node.type = "count"
        place_allowed(node.args[0], scope)
    elif kind == "var":
        check_variable(node, scope)
    elif kind == "attr":
        check_attribute(node, scope)
    elif kind == "neg":
        operand = check(node.args[0], scope)
        number(operand, "-")
        node.type = "real" if operand.type in ("count", "real") else "int"
    elif kind == "not":
        condition(check(node.args[0], scope), "not")
        node.type = "bool"
    elif kind == "bin":
        check_binary(node, scope)
    elif kind == "cond":
        test, then, otherwise = (check(a, scope) for a in node.args)
        condition(test, "the condition of ? :")
        node.type = common_type(then, otherwise)
    elif kind == "call":
        check_call(node, scope)
    elif kind == "sum":
        check_sum(node, scope)
    return node


def place_allowed(name, scope):
    if scope.places is None:
        raise ExpressionError(scope.no_counts or "no token count may be read here")
    if name not in scope.places:
        raise ExpressionError("unknown place %r" % name)


def check_variable(node, scope):
    name = node.args[0]
    if name == "now":
        if not scope.clock:
            raise ExpressionError(scope.no_clock or "the clock 'now' may not be read here")
        node.type = "real"
        return
    variable = lookup_variable(name, scope)
    if not variable.colour.is_int:
        example = variable.colour.attributes[0].name
        raise ExpressionError("%s is a %s token: read one of its attributes, e.g. %s.%s"
                              % (name, variable.colour.name, name, example))
    node.colour = variable.colour
    node.type = "int"


def lookup_variable(name, scope):
    if scope.variables is None:
        raise ExpressionError(scope.no_tokens or "no token may be read here (%r)" % name)
    if name not in scope.variables:
        if name in FUNCTION_NAMES or name in DELAY_NAMES or name == "sum":
            raise ExpressionError("%s is a function: write %s(...)" % (name, name))
        known = ", ".join(sorted(scope.variables)) or "none"
        raise ExpressionError("unknown variable %r (variables here: %s)" % (name, known))
    variable = scope.variables[name]
    if variable.multiplicity != 1:
        raise ExpressionError("%s binds %d tokens; expressions read only variables of arcs of multiplicity 1 "
                              "(use one arc per token to name each)" % (name, variable.multiplicity))
    return variable


def check_attribute(node, scope):
    name, attribute = node.args
    if name == "now":
        raise ExpressionError("now has no attributes")
    variable = lookup_variable(name, scope)
    colour = variable.colour
    if colour.is_int:
        raise ExpressionError("%s is an int token and has no attributes; %s alone is its value" % (name, name))
    match = [a for a in colour.attributes if a.name == attribute]
    if not match:
        raise ExpressionError("colour type %s has no attribute %r" % (colour.name, attribute))
    node.colour = colour
    node.type = {"int": "int", "real": "real", "bool": "bool", "string": "string", "DateTime": "real"}[match[0].type]


def number(node, what):
    if node.type not in NUMERIC:
        raise ExpressionError("%s needs numbers, not %s" % (what, a_type(node.type)))


def condition(node, what):
    if node.type != "bool":
        raise ExpressionError("%s needs a condition (true or false), not %s" % (what, a_type(node.type)))


def common_type(a, b):
    if a.type == b.type:
        return a.type
    if a.type in NUMERIC and b.type in NUMERIC and "bool" not in (a.type, b.type):
        return unify_numbers([a.type, b.type])
    raise ExpressionError("? : has %s on one side and %s on the other" % (a_type(a.type), a_type(b.type)))


def check_binary(node, scope):
    op, left, right = node.args
    check(left, scope)
    check(right, scope)
    if op in ("and", "or"):
        condition(left, op)
        condition(right, op)
        node.type = "bool"
    elif op in COMPARISONS:
        types = {left.type, right.type}
        if types <= set(NUMERIC) and "bool" not in types:
            pass
        elif left.type == right.type and left.type in ("string", "bool"):
            if op not in ("==", "!="):
                raise ExpressionError("%ss compare with == and != only" % left.type)
        else:
            raise ExpressionError("cannot compare %s with %s" % (a_type(left.type), a_type(right.type)))
        constant_comparison(op, left, right)
        node.type = "bool"
    else:
        number(left, op)
        number(right, op)
        types = [t if t != "bool" else "int" for t in (left.type, right.type)]
        if op == "/" or "real" in types:
            node.type = "real"
        elif "count" in types and not (op == "+" and types == ["count", "count"]):
            # Counts are unsigned in the generated code: only their sums stay
            # whole numbers.
            node.type = "real" if op != "+" else "int"
        else:
            node.type = unify_numbers(types)


FLIPPED = {"<": ">", ">": "<", "<=": ">=", ">=": "<=", "==": "==", "!=": "!="}


def int_literal(node):
    """The value of a whole-number literal (possibly negated), else None."""
    if node.kind == "num" and node.args[1]:
        return int(node.args[0])
    if node.kind == "neg" and node.args[0].kind == "num" and node.args[0].args[1]:
        return -int(node.args[0].args[0])
    return None


def constant_comparison(op, left, right):
    """Refuses comparisons whose outcome the types fix (the compiler would
    warn about them, and they are mistakes)."""
    if repr(left) == repr(right):
        raise ExpressionError("compares an expression with itself")
    for side, other, o in ((left, right, op), (right, left, FLIPPED[op])):
        c = int_literal(other)
        if c is None:
            continue
        if side.type == "count":
            if (o in (">", ">=", "!=") and c < 0) or (o == ">=" and c == 0):
                raise ExpressionError("is always true: a token count is never negative")
            if (o in ("<", "<=", "==") and c < 0) or (o == "<" and c == 0):
                raise ExpressionError("is always false: a token count is never negative")
        if side.kind == "attr" and side.type == "int" and not -2 ** 31 <= c < 2 ** 31:
            raise ExpressionError("%d lies outside the 32-bit range of an int attribute" % c)


def check_call(node, scope):
    name, args = node.args
    if name in DELAY_NAMES:
        raise ExpressionError("%s is a delay distribution; it may only stand for the whole delay" % name)
    for a in args:
        check(a, scope)
    if name in ("min", "max"):
        arity(name, args, 2, None)
        for a in args:
            number(a, name)
        node.type = unify_numbers([a.type if a.type != "bool" else "int" for a in args])
    elif name == "abs":
        arity(name, args, 1, 1)
        number(args[0], name)
        node.type = args[0].type if args[0].type != "bool" else "int"
    elif name == "mod":
        arity(name, args, 2, 2)
        for a in args:
            number(a, name)
        node.type = "real" if "real" in (args[0].type, args[1].type) else "int"
    elif name in INT_FUNCTIONS:
        arity(name, args, 1, 1)
        number(args[0], name)
        node.type = "int"
    elif name in REAL_FUNCTIONS:
        arity(name, args, REAL_FUNCTIONS[name], REAL_FUNCTIONS[name])
        for a in args:
            number(a, name)
        node.type = "real"
    elif name == "window":
        if not scope.clock:
            raise ExpressionError("window() reads the clock: " + (scope.no_clock or "not here"))
        arity(name, args, 3, 3)
        for a in args:
            number(a, name)
        node.type = "real"
    else:
        raise ExpressionError("unknown function %r (functions: %s, sum)" % (name, ", ".join(FUNCTION_NAMES)))


def arity(name, args, least, most):
    if len(args) < least or (most is not None and len(args) > most):
        wanted = str(least) if least == most else ("%d or more" % least if most is None else "%d to %d" % (least, most))
        raise ExpressionError("%s takes %s arguments, not %d" % (name, wanted, len(args)))


def check_sum(node, scope):
    variable, place_name, body = node.args
    place_allowed(place_name, scope)
    if scope.variables and variable in scope.variables or variable == "now":
        raise ExpressionError("sum variable %r hides another name; choose another" % variable)
    place = scope.places[place_name]
    inner = scope.with_variable(Variable(variable, place.colour))
    check(body, inner)
    number(body, "sum")
    node.colour = place.colour
    node.type = "real" if body.type == "real" else "int"


def conjuncts(node):
    """The operands of a chain of 'and', left to right."""
    if node.kind == "bin" and node.args[0] == "and":
        return conjuncts(node.args[1]) + conjuncts(node.args[2])
    return [node]


def walk(node):
    """Every node of a tree, parents before their operands."""
    yield node
    for a in node.args:
        for b in (a if isinstance(a, list) else [a]):
            if isinstance(b, Node):
                yield from walk(b)


def functions_called(node):
    """The names of the functions a tree calls ("sum" for sums)."""
    return {n.args[0] for n in walk(node) if n.kind == "call"} | {"sum" for n in walk(node) if n.kind == "sum"}


def uses_helpers(node):
    """Whether the emitted code needs the helper functions of NetExpressions.h."""
    return bool(functions_called(node) & {"mod", "window", "floor", "ceil", "round"})


def variables_read(node):
    """The token variables a tree reads (sum variables, which may not hide
    them, excluded)."""
    summed = {n.args[0] for n in walk(node) if n.kind == "sum"}
    return {n.args[0] for n in walk(node) if n.kind in ("var", "attr")} - summed - {"now"}


def places_read(node, kinds=("count", "sum")):
    """The places a tree reads through counts and sums (or the given kinds),
    in order of first appearance."""
    out = []
    for n in walk(node):
        if n.kind in kinds:
            name = n.args[0] if n.kind == "count" else n.args[1]
            if name not in out:
                out.append(name)
    return out


# --- emitting --------------------------------------------------------------------------------------
#
# Every emitted piece is (code, precedence, C++ type). Precedences follow C++:
# 1 ?:, 2 ||, 3 &&, 4 == !=, 5 < <= > >=, 6 + -, 7 * /, 8 unary, 9 operand.
# C++ types: unsigned (a count), int32 (an attribute), long (64-bit), double,
# bool, string.

ATOM = 9
BINARY_PRECEDENCE = {"or": 2, "and": 3, "==": 4, "!=": 4, "<": 5, "<=": 5, ">": 5, ">=": 5,
                     "+": 6, "-": 6, "*": 7, "/": 7}
CPP_OPERATOR = {"or": "||", "and": "&&"}


class Access:
    """How the generated code reaches what an expression reads."""

    def token(self, variable):
        """A pointer-like C++ expression of the typed token of `variable`."""
        raise NotImplementedError

    def count(self, place):
        """The number of tokens of `place`, an unsigned C++ expression."""
        raise NotImplementedError

    def marking(self, place):
        """The marking of `place`, a C++ expression of type MarkingList&."""
        raise NotImplementedError

    def now(self):
        """The clock in seconds, a C++ double expression."""
        raise NotImplementedError


class Code:
    def __init__(self, text, precedence, ctype, literal=None, parts=None):
        self.text = text
        self.precedence = precedence
        self.ctype = ctype
        self.literal = literal  # the number of an int literal
        self.parts = parts      # (left, operator, right) of a binary operation

    def at_least(self, precedence):
        return self.text if self.precedence >= precedence else "(" + self.text + ")"

    def above(self, precedence):
        return self.text if self.precedence > precedence else "(" + self.text + ")"


INTEGRAL = ("unsigned", "int32", "long", "bool")


class Emitter:
    def __init__(self, access):
        self.access = access
        self.sum_variables = {}

    def emit(self, node):
        return getattr(self, "emit_" + node.kind)(node)

    # Conversions ------------------------------------------------------------------------------

    def real(self, code, partner_real=False):
        """`code` as a double. An integral operand standing next to a double
        converts by itself; any other is converted explicitly."""
        if code.ctype == "double":
            return code
        if code.literal is not None:
            return Code(str(code.literal) + ".0", ATOM, "double")
        if partner_real and code.precedence == ATOM and code.ctype != "bool":
            return code
        return Code("static_cast<double>(%s)" % code.text, ATOM, "double")

    def wide(self, code):
        """`code` as a 64-bit integer."""
        if code.ctype == "long" or code.literal is not None:
            return code
        return Code("static_cast<long>(%s)" % code.text, ATOM, "long")

    def as_type(self, node, wanted):
        """The C++ code of `node` converted to the language type `wanted`."""
        code = self.emit(node)
        if wanted == "real":
            return self.real(code)
        if wanted == "int":
            return self.wide(code) if code.ctype in ("unsigned", "bool") else code
        return code

    # Operands ---------------------------------------------------------------------------------

    def emit_num(self, node):
        text, is_int = node.args
        if is_int:
            value = int(text)
            return Code(str(value) if value < 2 ** 31 else "%dL" % value, ATOM, "int32" if value < 2 ** 31 else "long",
                        literal=value)
        return Code(text, ATOM, "double")

    def emit_str(self, node):
        return Code("std::string(%s)" % cpp_string(node.args[0]), ATOM, "string")

    def emit_bool(self, node):
        return Code("true" if node.args[0] else "false", ATOM, "bool")

    def emit_count(self, node):
        return Code(self.access.count(node.args[0]), ATOM, "unsigned")

    def emit_var(self, node):
        name = node.args[0]
        if name == "now":
            return Code(self.access.now(), ATOM, "double")
        return Code("%s->getValue()" % self.token(name), ATOM, "long")

    def emit_attr(self, node):
        name, attribute = node.args
        kind = [a for a in node.colour.attributes if a.name == attribute][0].type
        getter = "%s->get_%s()" % (self.token(name), attribute)
        if kind == "DateTime":
            return Code(getter + ".FullDateTime()", ATOM, "double")
        return Code(getter, ATOM, {"int": "int32", "real": "double", "bool": "bool", "string": "string"}[kind])

    def token(self, name):
        return self.sum_variables.get(name) or self.access.token(name)

    # Operators --------------------------------------------------------------------------------

    def emit_neg(self, node):
        operand = self.emit(node.args[0])
        if operand.literal is not None:
            return Code("-" + operand.text, 8, operand.ctype, literal=-operand.literal)
        if node.type == "real":
            operand = self.real(operand)
        elif operand.ctype == "bool":
            operand = self.wide(operand)
        return Code("-" + operand.at_least(8), 8, operand.ctype)

    def emit_not(self, node):
        return Code("!" + self.emit(node.args[0]).at_least(8), 8, "bool")

    def emit_bin(self, node):
        op, left, right = node.args
        p = BINARY_PRECEDENCE[op]
        lc, rc = self.emit(left), self.emit(right)
        if op in ("and", "or"):
            # An 'and' inside an 'or' is bracketed, as compilers advise.
            lt = lc.above(p) if op == "or" else lc.at_least(p)
            rt = rc.above(p)
            return Code("%s %s %s" % (lt, CPP_OPERATOR[op], rt), p, "bool")
        if op in COMPARISONS:
            lc, rc = self.comparable(lc, rc)
            return Code("%s %s %s" % (lc.above(5), op, rc.above(5)), p, "bool")
        if node.type == "real":
            right_real = rc.ctype == "double" or rc.literal is not None or rc.precedence != ATOM
            lc = self.real(lc, partner_real=right_real)
            rc = self.real(rc, partner_real=True)
            ctype = "double"
        elif node.type == "count":
            ctype = "unsigned"
        else:
            if lc.ctype != "long" and rc.ctype != "long":
                if lc.literal is None:
                    lc = self.wide(lc)
                else:
                    rc = self.wide(rc)
            ctype = "long"
        parts = (lc.at_least(p), op, rc.above(p))
        return Code("%s %s %s" % parts, p, ctype, parts=parts)

    def comparable(self, lc, rc):
        """Operands of a comparison: a count next to a signed number is made
        signed (unless the number is a literal 0 or more), a bool next to a
        number becomes a number."""
        if "string" in (lc.ctype, rc.ctype) or lc.ctype == rc.ctype:
            return lc, rc
        if "double" in (lc.ctype, rc.ctype):
            return self.real(lc, True), self.real(rc, True)
        if lc.ctype == "unsigned" and not (rc.literal is not None and rc.literal >= 0):
            lc = self.wide(lc)
        if rc.ctype == "unsigned" and not (lc.literal is not None and lc.literal >= 0):
            rc = self.wide(rc)
        if lc.ctype == "bool":
            lc = self.wide(lc)
        if rc.ctype == "bool":
            rc = self.wide(rc)
        return lc, rc

    def emit_cond(self, node):
        test = self.emit(node.args[0])
        branches = [self.as_type(b, node.type) for b in node.args[1:]]
        if node.type == "int":
            branches = [self.wide(b) for b in branches]
        text = "%s ? %s : %s" % (test.above(1), branches[0].above(1), branches[1].at_least(1))
        return Code(text, 1, branches[0].ctype if node.type != "int" else "long")

    def emit_call(self, node):
        name, args = node.args
        if name in ("min", "max"):
            cpp = {"real": "double", "int": "long", "count": "unsigned"}[node.type]
            codes = [self.emit(a) for a in args]
            if len(codes) > 2 and node.type == "real":
                # A list of doubles takes no integer without a conversion.
                codes = [self.real(c) for c in codes]
            texts = [c.text for c in codes]
            inner = ", ".join(texts) if len(texts) == 2 else "{" + ", ".join(texts) + "}"
            return Code("std::%s<%s>(%s)" % (name, cpp, inner), ATOM, cpp if cpp != "unsigned" else "unsigned")
        if name == "abs":
            code = self.emit(args[0])
            if node.type == "count":
                return code
            if node.type == "real":
                return Code("std::fabs(%s)" % code.text, ATOM, "double")
            return Code("std::labs(%s)" % self.wide(code).text, ATOM, "long")
        if name == "mod":
            if node.type == "real":
                a, b = (self.real(self.emit(x)).text for x in args)
                return Code("netexpr::mod(%s, %s)" % (a, b), ATOM, "double")
            a, b = (self.wide(self.emit(x)).text for x in args)
            return Code("netexpr::mod(%s, %s)" % (a, b), ATOM, "long")
        if name in INT_FUNCTIONS:
            code = self.emit(args[0])
            if code.ctype != "double":
                return self.wide(code)
            return Code("netexpr::toLong(std::%s(%s))" % (name, code.text), ATOM, "long")
        if name in REAL_FUNCTIONS:
            codes = [self.real(self.emit(a)).text for a in args]
            return Code("std::%s(%s)" % (name, ", ".join(codes)), ATOM, "double")
        codes = [self.real(self.emit(a)).text for a in args]
        return Code("netexpr::window(%s, %s)" % (self.access.now(), ", ".join(codes)), ATOM, "double")

    def emit_sum(self, node):
        variable, place, body = node.args
        cpp_variable = "each_" + variable
        outer = dict(self.sum_variables)
        self.sum_variables[variable] = cpp_variable
        value = self.as_type(body, node.type)
        self.sum_variables = outer
        total = "double" if node.type == "real" else "long"
        cls = node.colour.cls
        text = ("[&]() { %s total = 0; for (const Ptr<Token>& held : %s) { const %s* %s = dynamic_cast<const %s*>("
                "held.GetRawPtr()); if (%s != nullptr) total += %s; } return total; }()"
                % (total, self.access.marking(place), cls, cpp_variable, cls, cpp_variable, value.text))
        return Code(text, ATOM, total)


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


# The helpers that emitted code may call, written next to the generated
# classes as NetExpressions.h when an expression needs them.
HELPERS_HEADER = """#pragma once
// Helper functions of the expressions of the net description.
#include <cmath>
#include <limits>

namespace netexpr {

// The remainder with the sign of the divisor; 0 for a divisor of 0.
inline long mod(long a, long b) {
    if (b == 0) return 0;
    if (b == -1) return 0;
    const long r = a % b;
    return r != 0 && (r < 0) != (b < 0) ? r + b : r;
}

inline double mod(double a, double b) {
    if (b == 0.0) return 0.0;
    const double r = std::fmod(a, b);
    return r != 0.0 && (r < 0.0) != (b < 0.0) ? r + b : r;
}

// A whole number from a real one: saturated at the ends of the range, 0 for
// a value that is not a number.
inline long toLong(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9.2e18) return std::numeric_limits<long>::max();
    if (x <= -9.2e18) return std::numeric_limits<long>::min();
    return static_cast<long>(x);
}

// Seconds from `now` until the phase of `now` in a repeating period lies in
// [open, close); a window with open > close wraps around the period's end,
// one with open equal to close (or no positive period) is always open.
inline double window(double now, double period, double open, double close) {
    if (!(period > 0.0)) return 0.0;
    const double phase = mod(now, period);
    open = mod(open, period);
    close = mod(close, period);
    if (open == close) return 0.0;
    const bool inside = open <= close ? phase >= open && phase < close : phase >= open || phase < close;
    if (inside) return 0.0;
    return phase < open ? open - phase : period - phase + open;
}

}  // namespace netexpr
"""
