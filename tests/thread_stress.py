"""Many threads at once on the module's shared state, each checking what it
got: calls of the five queries in every form (by position and keyword, by
dict, through tp_call and __call__, bound as a method, through
functools.partial), pickling; failing calls, whose traceback records go
through the per-line code-object cache, and new lines for the test module's
cache; the lazily made attributes of a pool of new function objects, read
by every thread at once (each must see one object, made once); and on the
same objects that others call and inspect, setters and deleters of every
settable attribute against readers of them.

Run in a fresh process (the caches then start empty, and a crash is the
test's failure rather than the suite's); it prints "thread stress: PASS" or
the failures.  The work is a number of rounds, not a time.

Usage: python thread_stress.py [--threads N] [--rounds R] [--repeats K]
"""
import argparse
import functools
import inspect
import pickle
import re
import sys
import threading
import warnings

import _runtime_test as rt
import tobrim.key.key as key

NAMES = ["pressed", "released", "pressed_repeat", "down", "up"]
LINES = {"pressed": 9, "released": 12, "pressed_repeat": 15, "down": 18, "up": 21}
# No window and no key events: nothing is down, so only `up` answers True.
ANSWERS = {"pressed": False, "released": False, "pressed_repeat": False, "down": False, "up": True}
COROUTINE = 0x08
BAD = [(("x",), {}, TypeError, "an integer is required"),
       ((2**70,), {}, OverflowError, None),
       ((2**40,), {}, OverflowError, "value too large to convert to int"),
       ((), {"k": 1}, TypeError, "%s() got an unexpected keyword argument 'k'"),
       ((), {}, TypeError, "%s() takes exactly 1 positional argument (0 given)")]

# What the writers store, and so what readers may see besides the values
# an object starts with.  Annotation dicts are compared by content: a
# reader may also get a dict made afresh, empty or by an __annotate__.
DOCS = (None, "doc a", "doc b")
ANNOTATIONS = ({}, {"key": int}, {"return": bool})
# inspect.signature reads __annotations__ and __defaults__ as it finds them.
SIGNATURE = re.compile(r"\(key(: int = \d+|: int|=\d+)?\)( -> bool)?")
NEW_NAMES = ("renamed_a", "renamed_b")


class Keyed(int):
    """Binds the queries as methods: the instance is the key."""
    query = key.pressed
    query_up = key.up


def annotate_with(value):
    def annotate(format):
        return dict(value)
    return annotate


ANNOTATE_FUNCTIONS = [annotate_with(a) for a in ANNOTATIONS]


class Failures:
    def __init__(self):
        self.lock = threading.Lock()
        self.items = []

    def add(self, text):
        with self.lock:
            if len(self.items) < 50:
                self.items.append(text)


def newest_record(exc):
    tb = exc.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    code = tb.tb_frame.f_code
    return code.co_filename, code.co_name, tb.tb_lineno


# --- the roles; each is one round's work, fail(text) reports ------------------

def call(seed, fail, pool):
    kw = {"key": 65}
    for name in NAMES:
        f = getattr(key, name)
        want = ANSWERS[name]
        for got in (f(65 + seed % 7), f(key=66), f(**kw), type(f).__call__(f, 67),
                    f.__call__(key=68), functools.partial(f, 69)(), functools.partial(f)(key=70)):
            if got is not want:
                fail("%s answered %r" % (name, got))
        if pickle.loads(pickle.dumps(f)) is not f:
            fail("%s did not pickle by reference" % name)
    if Keyed(65).query() is not False or Keyed(66).query_up() is not True:
        fail("a bound query answered wrongly")
    if key.pressed.__get__(Keyed(65))() is not False:
        fail("__get__ bound pressed answered wrongly")


def fail_calls(seed, fail, pool):
    for name in NAMES:
        f = getattr(key, name)
        for args, kwargs, exc, message in BAD:
            try:
                f(*args, **kwargs)
            except exc as e:
                if message is not None and str(e) != (message % name if "%s" in message else message):
                    fail("%s: message %r" % (name, str(e)))
                record = newest_record(e)
                if record != ("src/tobrim/key/key.pyi", "tobrim.key.key." + name, LINES[name]):
                    fail("%s: record %r" % (name, record))
            except BaseException as e:
                fail("%s: raised %r" % (name, e))
            else:
                fail("%s(%r, %r) did not fail" % (name, args, kwargs))


def record(seed, fail, pool):
    # New lines for the test module's cache: insertions, growth and lookups
    # from several threads at once, some lines shared among threads.
    record.lines[seed] = line = record.lines.get(seed, 1000 * (seed + 1)) + 1
    for l in (line, line // 3, seed + 1):
        try:
            rt.add_traceback(KeyError(l), "recorded", l)
        except KeyError as e:
            got = newest_record(e)
            if got[1:] != ("recorded", l):
                fail("record for line %d is %r" % (l, got))


record.lines = {}


def read_lazy(seed, fail, pool):
    # Every thread reads the pool's objects in its own order; each object's
    # lazily made attributes must be one object for all threads.
    marker = read_lazy.marker
    start = seed * 7 % len(pool.objects)
    for i in range(len(pool.objects)):
        index = (start + i) % len(pool.objects)
        f, coroutine = pool.objects[index]
        got = (f.__name__, f.__doc__, f.__annotations__, f._is_coroutine, f.__defaults__,
               f.__kwdefaults__)
        if got != ("documented", "A documented function.", {}, marker if coroutine else False,
                   (1, 2), {"k": 3}):
            fail("lazy attributes read %r" % (got,))
            continue
        # The defaults come from the getter, which each first reader may
        # call; the others are made once.
        with pool.lock:
            first = pool.seen[index].setdefault("values", got)
        if any(a is not b for a, b in zip(first[:4], got[:4])):
            fail("lazy attributes of one object differ between threads: %r" % (got,))
        if f.__annotate__(1) is not got[2]:
            fail("__annotate__ answers another dict")


def write(seed, fail, pool):
    # Setters and deleters on the very queries the other roles call and
    # inspect, and on shared objects of the test module's.
    f = SHARED[seed % len(SHARED)]
    k = seed % len(ANNOTATIONS)
    f.__doc__ = DOCS[seed % 3]
    del f.__doc__
    f.__doc__ = DOCS[(seed + 1) % 3]
    f.__annotations__ = dict(ANNOTATIONS[k])
    del f.__annotations__
    f.__annotations__ = dict(ANNOTATIONS[(k + 1) % 3])
    f.__annotate__ = ANNOTATE_FUNCTIONS[k]
    f.__annotate__ = None
    f.__dict__ = {"tag": seed}
    f.tag = seed + 1
    try:
        del f.tag
    except AttributeError:
        pass  # another writer replaced the dict meanwhile
    f.__defaults__ = (seed,)
    del f.__defaults__
    f.__kwdefaults__ = {"k": seed}
    f.__kwdefaults__ = None
    for g in pool.renamed:
        g.__name__ = NEW_NAMES[seed % 2]
        g.__qualname__ = "C." + NEW_NAMES[(seed + 1) % 2]
        g.__doc__ = DOCS[seed % 3]
        g.__annotations__ = dict(ANNOTATIONS[k])


def inspect_shared(seed, fail, pool):
    # Readers of what the writers change, each value one that was stored.
    for f in SHARED:
        if f.__doc__ not in DOCS:
            fail("__doc__ read %r" % (f.__doc__,))
        annotations = f.__annotations__
        if type(annotations) is not dict or annotations not in ANNOTATIONS:
            fail("__annotations__ read %r" % (annotations,))
        annotate = f.__annotate__
        if annotate is not None and annotate(1) not in ANNOTATIONS:
            fail("__annotate__ answered %r" % (annotate(1),))
        if type(f.__dict__) is not dict:
            fail("__dict__ read %r" % (f.__dict__,))
        defaults = f.__defaults__
        if defaults is not None and (type(defaults) is not tuple or len(defaults) != 1):
            fail("__defaults__ read %r" % (defaults,))
        signature = str(inspect.signature(f))
        if not SIGNATURE.fullmatch(signature):
            fail("signature read %r" % signature)
        if f.__name__ != f.__qualname__ or repr(f).split()[1] != f.__name__:
            fail("names read %r %r %r" % (f.__name__, f.__qualname__, repr(f)))
    for g in pool.renamed:
        name, qualname, reduced = g.__name__, g.__qualname__, g.__reduce__()
        if name not in ("o", *NEW_NAMES) or qualname not in ("o", *("C." + n for n in NEW_NAMES)):
            fail("renamed object read %r %r" % (name, qualname))
        if reduced not in ("o", *("C." + n for n in NEW_NAMES)) or repr(g).split()[1] not in (
                "o", *("C." + n for n in NEW_NAMES)):
            fail("renamed object reduces to %r, repr %r" % (reduced, repr(g)))
        if g.__doc__ not in DOCS or g.__annotations__ not in ANNOTATIONS:
            fail("renamed object's doc or annotations read %r %r" % (g.__doc__, g.__annotations__))


# The queries that the writers change while the others call them.
SHARED = [key.down, key.released]
ROLES = [call, fail_calls, record, read_lazy, write, inspect_shared]


class Pool:
    """The objects the threads share within one round."""

    def __init__(self, size):
        self.lock = threading.Lock()
        self.objects = [(rt.make("documented", COROUTINE if i % 2 else 0, None,
                                 lambda: ((1, 2), {"k": 3})), i % 2)
                        for i in range(size)]
        self.seen = [{} for _ in range(size)]
        self.renamed = [rt.make("o") for _ in range(4)]


def worker(role, seed, rounds, repeats, barrier, pools, failures):
    def fail(text):
        failures.add("%s[%d]: %s" % (role.__name__, seed, text))
    for r in range(rounds):
        # All threads start each round together, on a new pool, so that the
        # first reads of each lazily made attribute race; then each repeats
        # its work while the others do theirs.
        barrier.wait()
        for i in range(repeats):
            try:
                role(seed + len(ROLES) * (r * repeats + i), fail, pools[r])
            except Exception as e:
                fail("raised %r" % (e,))


def run(threads, rounds, repeats, pool_size):
    import asyncio.coroutines
    read_lazy.marker = getattr(asyncio.coroutines, "_is_coroutine", True)
    # The setters of the defaults warn that calls ignore what they store.
    warnings.filterwarnings("ignore", category=RuntimeWarning, message="changes to cyfunction")
    sys.setswitchinterval(1e-5)
    pools = [Pool(pool_size) for _ in range(rounds)]
    failures = Failures()
    barrier = threading.Barrier(threads, timeout=120)
    workers = [threading.Thread(target=worker, args=(ROLES[i % len(ROLES)], i, rounds, repeats,
                                                     barrier, pools, failures))
               for i in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    return failures.items


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=12)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--repeats", type=int, default=20)
    parser.add_argument("--pool", type=int, default=16)
    args = parser.parse_args()
    failures = run(args.threads, args.rounds, args.repeats, args.pool)
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print("thread stress: %d threads, %d rounds of %d, GIL %s" % (
        args.threads, args.rounds, args.repeats, "on" if gil else "off"))
    for f in failures:
        print("FAIL:", f)
    print("thread stress: FAIL" if failures else "thread stress: PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
