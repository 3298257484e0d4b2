# Sourced by scripts/bootstrap: the musl prefix (to be written).
MUSL_PYTHON=""
MUSL_RAYLIB_DIR=""
MUSL_MISSING=""
setup_musl() { MUSL_MISSING="the musl prefix is not built yet"; }
