import os
import pathlib

import pytest

SOURCE = pathlib.Path(os.environ.get("PLUGSTORE_SOURCE_DIR", pathlib.Path(__file__).parents[2]))


@pytest.fixture
def draw_off():
    """A day of draws from a charged store at 3-minute steps, 2 iterations."""
    return SOURCE / "examples" / "dhw-draw-off" / "dhw-draw-off.toml"
