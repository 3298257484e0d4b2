"""The demo's picture: readable text and columns named after the queries."""
import importlib.util
import pathlib

import pytest

DEMO = pathlib.Path(__file__).parents[1] / "demo" / "demo.py"


@pytest.fixture(scope="module")
def demo(key):
    spec = importlib.util.spec_from_file_location("tobrim_demo", DEMO)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def luminance(colour):
    """Relative luminance of an sRGB colour (WCAG 2)."""
    def linear(v):
        v /= 255
        return v / 12.92 if v <= 0.03928 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * linear(colour.r) + 0.7152 * linear(colour.g) + 0.0722 * linear(colour.b)


def test_every_text_colour_has_contrast_of_at_least_4_5(demo):
    low = []
    for fg, bg in demo.TEXT_PAIRS:
        light, dark = sorted((luminance(fg), luminance(bg)), reverse=True)
        ratio = (light + 0.05) / (dark + 0.05)
        if ratio < 4.5:
            low.append(((fg.r, fg.g, fg.b), (bg.r, bg.g, bg.b), round(ratio, 2)))
    assert low == []


def test_columns_are_named_after_the_queries(demo, key):
    functions = sorted(name for name in vars(key) if not name.startswith("_"))
    assert sorted(demo.QUERIES) == functions
