"""Seeded random calls of the five queries, each checked against the
reference model in fuzz_calls.py: same answer, or same exception type,
message and traceback record, same warnings, and the reference counts of the
arguments kept.  scripts/fuzz runs many more."""
import pytest

pytest.importorskip("_testcapi")
import fuzz_calls  # noqa: E402
from conftest import DEBUG  # noqa: E402

_runtime_test = pytest.importorskip("_runtime_test")
SEEDS = [11, 12, 13]


@pytest.fixture
def held(keyboard):
    keyboard.frame(down=fuzz_calls.HELD)
    keyboard.frame()


@pytest.mark.parametrize("seed", SEEDS)
def test_calls_answer_as_the_model_says(key, held, seed):
    problems = fuzz_calls.run(key, _runtime_test, fuzz_calls.gen_cases(seed, 1500))
    assert not problems, "\n".join(problems[:10])


def test_calls_keep_no_memory(key, held):
    blocks, total = fuzz_calls.memory_growth(key, _runtime_test, fuzz_calls.gen_cases(21, 1000))
    assert blocks < 50
    if DEBUG:
        assert total < 20
