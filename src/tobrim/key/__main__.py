"""``python -m tobrim.key``: the live key grid (``tobrim.key._demo``)."""
if __name__ == "__main__":
    import sys

    from ._demo import main

    sys.exit(main())
