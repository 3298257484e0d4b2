"""Threads: for a bounded time, some threads call the key queries and check
every answer, while others make calls fail (each failure adds a traceback
record, whose code object the per-line cache holds, inserting new lines as
it goes), read the lazily made attributes of new function objects, and
leave cyclic garbage with finalizers behind, so that collections (and with
them switches to other threads) happen inside the runtime's own calls.

Run it in a fresh process: the key module's traceback cache then starts
empty and its first insertions race as well.

Usage: python threads.py [--seconds S] [--threads N]
"""
import argparse
import faulthandler
import gc
import sys
import threading
import time
import weakref


# How long the workers get to finish their round once told to stop.
STOP_TIMEOUT = 60


class Failures:
    def __init__(self):
        self.lock = threading.Lock()
        self.items = []
        self.calls = 0

    def add(self, text):
        with self.lock:
            if len(self.items) < 50:
                self.items.append(text)

    def count(self, n):
        with self.lock:
            self.calls += n


def newest_record(exc):
    tb = exc.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    code = tb.tb_frame.f_code
    return code.co_filename, code.co_name, tb.tb_lineno


NAMES = ["pressed", "released", "pressed_repeat", "down", "up"]
LINES = {"pressed": 9, "released": 12, "pressed_repeat": 15, "down": 18, "up": 21}
# No window and no key events: nothing is down, so only `up` answers True.
ANSWERS = {"pressed": False, "released": False, "pressed_repeat": False, "down": False, "up": True}


def callers(key, stop, failures, seed):
    functions = [(name, getattr(key, name)) for name in NAMES]
    kw = {"key": 65}
    n = 0
    while not stop.is_set():
        for name, f in functions:
            for got in (f(65 + seed % 7), f(key=66), f(**kw), type(f).__call__(f, 67),
                        f.__call__(key=68)):
                if got is not ANSWERS[name]:
                    failures.add("%s answered %r" % (name, got))
            n += 5
        if n >= 5000:
            failures.count(n)
            n = 0
    failures.count(n)


BAD = [(("x",), {}, TypeError, "an integer is required"),
       ((2**70,), {}, OverflowError, None),
       ((2**40,), {}, OverflowError, "value too large to convert to int"),
       ((), {"k": 1}, TypeError, "%s() got an unexpected keyword argument 'k'"),
       ((), {}, TypeError, "%s() takes exactly 1 positional argument (0 given)")]


def failers(key, stop, failures, seed):
    n = 0
    while not stop.is_set():
        for name in NAMES:
            f = getattr(key, name)
            for args, kwargs, exc, message in BAD:
                try:
                    f(*args, **kwargs)
                except exc as e:
                    if message is not None and str(e) != (message % name if "%s" in message else message):
                        failures.add("%s: message %r" % (name, str(e)))
                    record = newest_record(e)
                    if record != ("src/tobrim/key/key.pyi", "tobrim.key.key." + name, LINES[name]):
                        failures.add("%s: record %r" % (name, record))
                except BaseException as e:
                    failures.add("%s: raised %r" % (name, e))
                else:
                    failures.add("%s(%r, %r) did not fail" % (name, args, kwargs))
                n += 1
    failures.count(n)


def recorders(rt, stop, failures, seed):
    # New lines for the test module's cache: insertions, growth and
    # lookups from several threads at once.
    line = 100000 * (seed + 1)
    n = 0
    while not stop.is_set():
        line += 1
        for l in (line, line // 2, seed + 1):
            try:
                rt.add_traceback(KeyError(l), "recorded", l)
            except KeyError as e:
                record = newest_record(e)
                if record[1:] != ("recorded", l):
                    failures.add("record for line %d is %r" % (l, record))
            n += 1
    failures.count(n)


def attribute_readers(rt, stop, failures, seed):
    import asyncio.coroutines
    marker = getattr(asyncio.coroutines, "_is_coroutine", True)
    n = 0
    while not stop.is_set():
        f = rt.make("documented", 0x08 if seed % 2 else 0)
        first = (f.__name__, f.__doc__, f.__dict__, f.__annotations__, f._is_coroutine)
        again = (f.__name__, f.__doc__, f.__dict__, f.__annotations__, f._is_coroutine)
        if any(a is not b for a, b in zip(first, again)):
            failures.add("attributes of one object changed identity: %r %r" % (first, again))
        expected = ("documented", "A documented function.", {}, {}, marker if seed % 2 else False)
        if first != expected:
            failures.add("attributes read %r" % (first,))
        if f.__annotate__(1) is not first[3]:
            failures.add("__annotate__ answers another dict")
        n += 1
    failures.count(n)


class Finalized:
    def __init__(self):
        self.cycle = self

    def __del__(self):
        time.sleep(0)  # hands the lock to another thread, inside a collection


# Batches of garbage left uncollected at once.  Each finalizer hands the
# lock away, so a collection frees some thousands a second; unbounded
# garbage would pile up faster than that and leave a thread inside one
# collection for minutes after the run.
BATCH, BATCHES_PENDING = 200, 5


def garbage(stop, failures, seed):
    pending = []
    while not stop.is_set():
        pending = [r for r in pending if r() is not None]
        if len(pending) < BATCHES_PENDING:
            for _ in range(BATCH):
                last = Finalized()
            pending.append(weakref.ref(last))
            del last
        time.sleep(0.001)


def run(seconds, threads):
    import _runtime_test as rt
    import tobrim.key.key as key
    sys.setswitchinterval(1e-6)
    gc.set_threshold(200)  # frequent collections, each inside whichever call allocates
    failures = Failures()
    stop = threading.Event()
    roles = [(callers, key), (failers, key), (recorders, rt), (attribute_readers, rt)]
    workers = []
    for i in range(threads):
        role, target = roles[i % len(roles)]
        workers.append(threading.Thread(target=role, args=(target, stop, failures, i),
                                        daemon=True))
    workers.append(threading.Thread(target=garbage, args=(stop, failures, 0), daemon=True))
    errors = []

    def hook(args):
        errors.append("%s in %s: %s" % (args.exc_type.__name__, args.thread.name, args.exc_value))
    threading.excepthook = hook
    for w in workers:
        w.start()
    time.sleep(seconds)
    stop.set()
    # A worker that does not stop (a deadlock in a call) fails the run
    # instead of hanging it; workers are daemons, so the process can exit.
    deadline = time.monotonic() + STOP_TIMEOUT
    for w in workers:
        w.join(max(0.0, deadline - time.monotonic()))
    stuck = ["%s did not stop within %d s" % (w.name, STOP_TIMEOUT)
             for w in workers if w.is_alive()]
    if stuck:
        # Where each thread is, to tell a deadlock from a thread kept waiting.
        faulthandler.dump_traceback(all_threads=True)
    return failures.calls, failures.items + errors + stuck, len(workers)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--threads", type=int, default=8)
    args = parser.parse_args(argv)
    calls, problems, n = run(args.seconds, args.threads)
    print("threads: %d threads for %.0f s, %d checked operations" % (n, args.seconds, calls))
    for p in problems:
        print("  " + p)
    print("threads: %s" % ("FAIL (%d problems)" % len(problems) if problems else "PASS"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
