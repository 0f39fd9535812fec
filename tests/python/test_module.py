import pixmorf


def test_module_imports():
    assert pixmorf.__name__ == "pixmorf"
