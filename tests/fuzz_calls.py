"""Seeded random calls of the five key queries, each checked against a
reference model of their binding and conversion rules written in Python.

A case is one call: a function, a call form, positional values and keywords
(names with values, or a dict).  The model says what the call must give:
True or False from the keyboard state, or an exception of a given type with
a given message, with or without the function's traceback record, plus the
warnings it must issue.  The checker makes the call, compares, and checks
that the call left the reference counts of everything it was given as they
were.

Used by tests/test_fuzz.py (a few thousand cases) and scripts/fuzz (on
demand, as many as asked)."""
import math
import random
import sys
import traceback
import warnings

import _testcapi

NAMES = ["pressed", "released", "pressed_repeat", "down", "up"]
SOURCE = "src/tobrim/key/key.pyi"
KEY = sys.intern("key")
# Keys the keyboard holds during the run (after a settling frame: no press,
# release or repeat is pending).
HELD = (1, 65, 66, 255, 511)
MAX_KEYBOARD_KEYS = 512
INT_MIN, INT_MAX = -2**31, 2**31 - 1
LONG_MIN, LONG_MAX = -2**63, 2**63 - 1
LONG_OVERFLOW = "Python int too large to convert to C long"
DEPRECATED_INT = ("__int__ returned non-int (type %.200s).  The ability to return an instance "
                  "of a strict subclass of int is deprecated, and may be removed in a future "
                  "version of Python.")
MISSING = object()


class Raised(Exception):
    """The model's verdict that the call fails: the exception type, its
    message, and whether the function's traceback record is on it."""

    def __init__(self, exc_type, message, record=True):
        super().__init__(exc_type, message, record)
        self.outcome = ("raise", exc_type, message, record)


# --- the objects calls are made of -------------------------------------------

class PlainStr(str):
    """A str subclass that changes nothing: str's own comparison decides."""


class NeverEqual(str):
    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class AlwaysEqual(str):
    def __eq__(self, other):
        return True

    __hash__ = str.__hash__


class RaisingEqual(str):
    def __eq__(self, other):
        raise LookupError("from __eq__ of " + str.__str__(self))

    __hash__ = str.__hash__


class BoolRaises:
    def __bool__(self):
        raise ArithmeticError("from __bool__")


class OddEqual(str):
    """__eq__ answers a fixed object whose truth decides (or raises)."""

    answer = None

    def __eq__(self, other):
        return self.answer

    __hash__ = str.__hash__


def odd_equal(text, answer):
    cls = type("OddEqual_" + type(answer).__name__, (OddEqual,), {"answer": answer})
    return cls(text)


class HashAs(str):
    """A str subclass whose hash is a chosen number (the one of "key" makes a
    dict lookup of "key" compare with it)."""

    hash_value = 0

    def __hash__(self):
        return self.hash_value


def hash_as(text, value, eq=None):
    body = {"hash_value": value}
    if eq is not None:
        body["__eq__"] = eq
        body["__hash__"] = HashAs.__hash__   # a class defining __eq__ alone is unhashable
    return type("HashAs", (HashAs,), body)(text)


class HashRaises(str):
    def __hash__(self):
        raise RuntimeError("from __hash__")


class IntSub(int):
    def __int__(self):  # the conversion reads the value in place instead
        raise AssertionError("__int__ of an int subclass was called")


class IntReturns:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value

    def __repr__(self):
        return f"IntReturns({self.value!r})"


class IntRaises:
    """__int__ raises a fresh exception of the given type each time."""

    def __init__(self, exc_type, message):
        self.exc_type, self.message = exc_type, message

    def __int__(self):
        raise self.exc_type(self.message)

    def __repr__(self):
        return f"IntRaises({self.exc_type.__name__}, {self.message!r})"


class IndexOnly:
    def __index__(self):
        return 65


class IndexAndInt:
    def __index__(self):
        return 66

    def __int__(self):
        return 65


# A class whose name is longer than the 200 characters a message keeps.
LongName = type("L" * 250, (), {})


def runtime_key(rng):
    """The characters "key" in a str that is not the interned one; some have
    no hash cached yet."""
    return rng.choice([
        lambda: "".join(["k", "e", "y"]),
        lambda: bytes([107, 101, 121]).decode(),
        lambda: "xkey"[1:],
        lambda: "KEY".lower(),
    ])()


OTHER_NAMES = ["k", "ke", "keys", "KEY", "Key", "key ", " key", "", "kéy", "ключ", "key\x00",
               "k\U0001F511y", "value", "a", "b", "self"]


def gen_name(rng, for_dict):
    """A keyword name.  Names for dicts must be hashable."""
    r = rng.random()
    if r < 0.25:
        return KEY
    if r < 0.40:
        return runtime_key(rng)
    if r < 0.55:
        return rng.choice(OTHER_NAMES)
    text = rng.choice([KEY, "zzz", "k", "kéy"])
    makers = [
        lambda: PlainStr(text),
        lambda: NeverEqual(text),
        lambda: AlwaysEqual(text),
        lambda: RaisingEqual(text),
        lambda: odd_equal(text, rng.choice([0, 1, 2, "", "x", None, [], NotImplemented,
                                                    BoolRaises()])),
        lambda: hash_as(text, rng.choice([0, 1, -2, hash(KEY), 2**61])),
        lambda: hash_as(text, hash(KEY), rng.choice([
            lambda self, other: True, lambda self, other: False, RaisingEqual.__eq__])),
    ]
    if not for_dict:
        makers.append(lambda: HashRaises(text))
    if rng.random() < 0.25:
        makers += [lambda: rng.choice([b"key", 5, None, 1.5, ("key",)])]
    return rng.choice(makers)()


BOUNDS = [0, 1, -1, 2, 30, 31, 32, 59, 60, 61, 62, 63, 64, 65, 90, 128]


def gen_int(rng):
    r = rng.random()
    if r < 0.4:
        return rng.choice(HELD + HELD + (0, -1, 2, 64, 67, 510, 512, 513, -65))
    if r < 0.6:
        bits = rng.choice(BOUNDS)
        edge = (1 << bits) + rng.randint(-2, 2) if bits > 1 else bits
        return edge if rng.random() < 0.5 else -edge
    if r < 0.8:
        # Codes held by the keyboard, shifted by a power of two: they answer
        # like the held code only if the conversion dropped high bits.
        return rng.choice(HELD) + rng.choice([1, -1]) * (1 << rng.choice([30, 31, 32, 33, 60, 62, 64]))
    bits = rng.randint(0, 200)
    value = rng.getrandbits(bits) if bits else 0
    return value if rng.random() < 0.5 else -value


def gen_value(rng, depth=0):
    """A value for `key`."""
    r = rng.random()
    if r < 0.45:
        return gen_int(rng)
    if r < 0.52:
        return rng.choice([True, False])
    if r < 0.60:
        return IntSub(gen_int(rng))
    if r < 0.68:
        return rng.choice([65.9, 66.0, -1.5, 1e300, -1e300, math.inf, -math.inf, math.nan, 0.0,
                           2147483647.5, 2147483648.0])
    if r < 0.74:
        return rng.choice([None, "65", b"65", 65j, [65], (65,), IndexOnly(), object(), LongName()])
    if r < 0.76:
        return IndexAndInt()
    if depth == 0 and r < 0.92:
        inner = rng.random()
        if inner < 0.55:
            return IntReturns(gen_value(rng, 1))
        if inner < 0.75:
            return IntReturns(rng.choice([IntSub(65), IntSub(2**40), True, False]))
        return IntReturns(rng.choice(["x", 65.0, None, b"1", LongName(), IndexOnly()]))
    return IntRaises(*rng.choice([(ZeroDivisionError, "inside __int__"), (ValueError, "bad"),
                                  (KeyError, "k"), (TypeError, "an integer is required"),
                                  (OverflowError, "big")]))


FORMS = ["vector", "syntax", "tp_call", "dict"]


class KwDict(dict):
    def __getitem__(self, key):
        raise AssertionError("the dict's own methods are not used")

    get = keys = values = items = __iter__ = __getitem__


class Case:
    """One call.  kw is None, ("names", names, values) or ("dict", d)."""

    def __init__(self, name, form, args, kw, warn):
        self.name, self.form, self.args, self.kw, self.warn = name, form, args, kw, warn

    def objects(self):
        objs = list(self.args)
        if self.kw is not None and self.kw[0] == "names":
            objs += list(self.kw[1]) + list(self.kw[2])
        elif self.kw is not None:
            d = self.kw[1]
            objs += [d] + [o for item in dict.items(d) for o in item]
        return objs

    def __repr__(self):
        return f"Case({self.name!r}, {self.form!r}, {self.args!r}, {self.kw!r}, warn={self.warn!r})"


def binding_name(rng):
    """A name that binds `key` when nothing is bound by position."""
    return rng.choice([KEY, KEY, runtime_key(rng), PlainStr(KEY), AlwaysEqual("zzz"),
                       odd_equal(KEY, 1)])


def gen_case(rng):
    name = rng.choice(NAMES)
    form = rng.choice(FORMS)
    warn = rng.choice(["record", "error"])
    shape = rng.random()
    if shape < 0.5:
        # Calls that bind: what remains to check is the conversion.
        if shape < 0.3:
            args = (gen_value(rng),)
            kw = None if form == "vector" else ("dict", {})
        else:
            args = ()
            kw_name = binding_name(rng)
            kw = (("names", (kw_name,), (gen_value(rng),)) if form == "vector"
                  else ("dict", {kw_name: gen_value(rng)}))
        return Case(name, form, args, kw, warn)
    nargs = rng.choices([0, 1, 2, 3, 5, 8], weights=[35, 40, 12, 6, 4, 3])[0]
    args = tuple(gen_value(rng) for _ in range(nargs))
    nkw = rng.choices([0, 1, 2, 3], weights=[20, 50, 20, 10])[0]
    if form == "vector":
        names = tuple(gen_name(rng, False) for _ in range(nkw))
        values = tuple(gen_value(rng) for _ in range(nkw))
        kw = ("names", names, values) if nkw or rng.random() < 0.5 else None
        return Case(name, form, args, kw, warn)
    # The entry takes dict subclasses too; it reads them as dicts.
    d = KwDict() if form == "dict" and rng.random() < 0.2 else {}
    hashes = set()
    for _ in range(nkw):
        key = gen_name(rng, True)
        h = hash(key)
        # Keys of distinct hashes: building and copying the dict then calls
        # no __eq__ of theirs.
        if h in hashes:
            continue
        hashes.add(h)
        d[key] = gen_value(rng)
    return Case(name, form, args, ("dict", d), warn)


def gen_cases(seed, count):
    rng = random.Random(seed)
    return [gen_case(rng) for _ in range(count)]


# --- the model -----------------------------------------------------------------

def text(s):
    """The characters of a str or str subclass, as %U formats them."""
    return str.__str__(s)


def argcount_error(fname, given):
    raise Raised(TypeError, f"{fname}() takes exactly 1 positional argument ({given} given)")


def model_match(fname, name, first):
    """1 when `name` binds `key` (first == 0), 0 when it names nothing;
    raises for a non-string, a repeat of `key` bound by position, or an
    error of the name's comparison."""
    if type(name) is str:
        equal = name == KEY            # hash, length, kind, characters
        if first == 0 and equal:
            return 1
        if first == 1 and equal:
            raise Raised(TypeError, f"{fname}() got multiple values for keyword argument '{text(name)}'")
        return 0
    if not isinstance(name, str):
        raise Raised(TypeError, f"{fname}() keywords must be strings")
    try:
        equal = bool(KEY == name)
    except Exception as e:
        raise Raised(type(e), str(e)) from None
    if first == 0 and equal:
        return 1
    if first == 1 and equal:
        raise Raised(TypeError, f"{fname}() got multiple values for keyword argument '{text(name)}'")
    return 0


def model_bind_names(fname, args, names, kwvalues):
    first = len(args)
    bound = args[0] if args else MISSING
    for name, value in zip(names, kwvalues):
        if not (first == 0 and name is KEY) and model_match(fname, name, first) == 0:
            raise Raised(TypeError, f"{fname}() got an unexpected keyword argument '{text(name)}'")
        if bound is not MISSING:
            raise Raised(TypeError, f"{fname}() got multiple values for keyword argument '{text(name)}'")
        bound = value
    return bound


def model_bind_dict(fname, args, d):
    if not all(isinstance(k, str) for k in d):
        raise Raised(TypeError, "keywords must be strings")
    first = len(args)
    bound = args[0] if args else MISSING
    found = 0
    if first == 0:
        try:
            value = d.get(KEY, MISSING)
        except Exception as e:
            raise Raised(type(e), str(e)) from None
        if value is not MISSING:
            bound, found = value, 1
    if found < len(d):
        for k in d:
            if first == 0 and k is KEY:
                continue
            if model_match(fname, k, first) == 0:
                raise Raised(TypeError, f"{fname}() got an unexpected keyword argument '{text(k)}'")
        # Every key named `key`, though the lookup missed one (a hash that
        # does not lead to "key"): all are bound again by value.
        return model_bind_names(fname, args, tuple(d), tuple(d.values()))
    return bound


def model_int(value, warnings_seen, warn):
    """The key code; raises Raised for what the conversion rejects."""
    if type(value).__flags__ & (1 << 24):          # int, bool, int subclasses
        number = int.__int__(value)
        if INT_MIN <= number <= INT_MAX:
            return number
        if LONG_MIN <= number <= LONG_MAX:
            raise Raised(OverflowError, "value too large to convert to int")
        raise Raised(OverflowError, LONG_OVERFLOW)
    if not any("__int__" in vars(c) for c in type(value).__mro__):
        raise Raised(TypeError, "an integer is required")
    try:
        result = type(value).__int__(value)
    except Exception as e:
        raise Raised(type(e), str(e)) from None
    rtype = type(result)
    if rtype is not int:
        tp_name = rtype.__name__ if rtype.__module__ == "builtins" or rtype.__flags__ & (1 << 9) \
            else f"{rtype.__module__}.{rtype.__name__}"
        if not rtype.__flags__ & (1 << 24):
            raise Raised(TypeError, "__int__ returned non-int (type %.200s)" % tp_name)
        message = DEPRECATED_INT % tp_name
        if warn == "error":
            raise Raised(DeprecationWarning, message)
        warnings_seen.append(message)
    return model_int(result, warnings_seen, warn)


def model_answer(fname, code):
    if not 0 < code < MAX_KEYBOARD_KEYS:
        return False
    held = code in HELD
    return {"down": held, "up": not held}.get(fname, False)


def model(case):
    """(("return", answer) or ("raise", type, message, record), warnings)."""
    seen = []
    try:
        args, kw = case.args, case.kw
        if kw is None:
            if len(args) != 1:
                argcount_error(case.name, len(args))
            bound = args[0]
        elif kw[0] == "names":
            if len(kw[1]) == 0:
                if len(args) != 1:
                    argcount_error(case.name, len(args))
                bound = args[0]
            else:
                if len(args) > 1:
                    argcount_error(case.name, len(args))
                bound = model_bind_names(case.name, args, kw[1], kw[2])
        else:
            d = dict(dict.items(kw[1]))     # a KwDict's methods refuse
            if len(d) == 0:
                if len(args) != 1:
                    argcount_error(case.name, len(args))
                bound = args[0]
            elif case.form == "dict":
                if len(args) > 1:
                    argcount_error(case.name, len(args))
                bound = model_bind_dict(case.name, args, d)
            else:
                # The interpreter's call paths pass a dict on as names and
                # values, and turn away a key that is no string first.
                if not all(isinstance(k, str) for k in d):
                    raise Raised(TypeError, "keywords must be strings", record=False)
                if len(args) > 1:
                    argcount_error(case.name, len(args))
                bound = model_bind_names(case.name, args, tuple(d), tuple(d.values()))
        if bound is MISSING:
            argcount_error(case.name, 0)
        code = model_int(bound, seen, case.warn)
        return ("return", model_answer(case.name, code)), seen
    except Raised as r:
        return r.outcome, seen


# --- the real call ---------------------------------------------------------------

def perform(module, runtime_test, case):
    """Calls the module as the case says; the same shape as model()."""
    func = getattr(module, case.name)
    args, kw = case.args, case.kw
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("error" if case.warn == "error" else "always", DeprecationWarning)
        try:
            if case.form == "vector":
                names = kw[1] if kw is not None else None
                values = args + (kw[2] if kw is not None else ())
                result = _testcapi.pyobject_vectorcall(func, values, names)
            elif case.form == "syntax":
                result = func(*args, **kw[1])
            elif case.form == "tp_call":
                result = type(func).__call__(func, *args, **kw[1])
            else:
                result = runtime_test.call_with_dict(func, args, kw[1])
            outcome = ("return", result if type(result) is bool else ("no bool", result))
        except BaseException as e:
            entries = traceback.extract_tb(e.__traceback__)
            records = [t for t in entries
                       if (t.filename, t.name) == (SOURCE, f"tobrim.key.key.{case.name}")]
            outcome = ("raise", type(e), str(e), bool(records))
            if len(records) > 1:
                outcome += ("records", len(records))
            e.__traceback__ = None
            del e
    return outcome, [str(w.message) for w in caught]


def check(module, runtime_test, case):
    """None when the call gives what the model says and keeps the reference
    counts of its arguments; otherwise a description of the difference."""
    expected = model(case)
    objs = case.objects()
    before = [sys.getrefcount(o) for o in objs]
    got = perform(module, runtime_test, case)
    after = [sys.getrefcount(o) for o in objs]
    problems = []
    if got != expected:
        problems.append(f"expected {expected!r}, got {got!r}")
    if before != after:
        problems.append(f"reference counts {before} -> {after}")
    if problems:
        return f"{case!r}: " + "; ".join(problems)
    return None


def run(module, runtime_test, cases):
    """The list of mismatches over the cases."""
    return [p for p in (check(module, runtime_test, c) for c in cases) if p is not None]


def run_unchecked(module, runtime_test, cases):
    for case in cases:
        perform(module, runtime_test, case)


def successful(cases):
    return [c for c in cases if model(c)[0][0] == "return"]


def memory_growth(module, runtime_test, cases, rounds=3):
    """(allocated blocks, reference total or None) gained by running the
    cases once more after warm-up rounds.  The reference total is taken over
    successful calls only: each traceback record moves the debug build's
    total without keeping memory."""
    for _ in range(rounds):
        run_unchecked(module, runtime_test, cases)
    blocks = sys.getallocatedblocks()
    run_unchecked(module, runtime_test, cases)
    blocks = sys.getallocatedblocks() - blocks
    total = None
    if hasattr(sys, "gettotalrefcount"):
        ok = successful(cases)
        for _ in range(rounds):
            run_unchecked(module, runtime_test, ok)
        total = sys.gettotalrefcount()
        run_unchecked(module, runtime_test, ok)
        total = sys.gettotalrefcount() - total
    return blocks, total


def main(argv):
    """scripts/fuzz: fuzz_calls.py [cases] [seed]; exit status 1 on any
    mismatch or growth."""
    import collections
    import time

    from conftest import Keyboard, load_raylib
    import tobrim.key.key as module
    import _runtime_test

    count = int(argv[1]) if len(argv) > 1 else 100_000
    seed = int(argv[2]) if len(argv) > 2 else 20261210
    keyboard = Keyboard(load_raylib())
    keyboard.release_all()
    keyboard.frame(down=HELD)
    keyboard.frame()

    import os
    kind = os.environ.get("TOBRIM_VARIANT") or ("debug" if hasattr(sys, "gettotalrefcount") else "release")
    start = time.perf_counter()
    problems, outcomes, batch, done = [], collections.Counter(), 10_000, 0
    rng_seeds = random.Random(seed)
    first_batch = None
    while done < count:
        cases = gen_cases(rng_seeds.getrandbits(64), min(batch, count - done))
        first_batch = first_batch or cases
        for case in cases:
            outcome = model(case)[0]
            outcomes[outcome[1] if outcome[0] == "return" else outcome[1].__name__] += 1
        problems += run(module, _runtime_test, cases)
        done += len(cases)
    elapsed = time.perf_counter() - start
    blocks, total = memory_growth(module, _runtime_test, first_batch[:5000])
    print(f"{kind} build: {done} cases, seed {seed}, {elapsed:.1f} s")
    print("  outcomes: " + ", ".join(f"{k} {v}" for k, v in sorted(outcomes.items(), key=str)))
    print(f"  mismatches: {len(problems)}")
    for p in problems[:20]:
        print("   ", p[:2000])
    print(f"  re-run of {len(first_batch[:5000])} cases: allocated blocks {blocks:+d}"
          + ("" if total is None else f", reference total over the successful ones {total:+d}"))
    grew = blocks > 50 or (total is not None and total > 20)
    return 1 if problems or grew else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
