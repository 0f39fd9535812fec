"""Conversions from many Python threads at once: each thread gets the output
a single thread gets, and keying with a random key colour works in every
thread."""

import re
import threading

import pytest

import pixmorf

THREADS = 8
CALLS_PER_THREAD = 6


def picture(seed, side=24):
    """A different picture for every seed: blocks, a disc and a gap."""
    def colour(x, y):
        if (x - seed % 11 - 6) ** 2 + (y - 9) ** 2 < 20:
            return (30, 60 + 10 * seed, 200, 255)
        if (x // (3 + seed % 4) + y // 5) % 3 == 0:
            return (10, 10, 10, 255)
        if y == seed % side:
            return (0, 0, 0, 0)
        return (245, 240, 230, 255)

    return [colour(x, y) for y in range(side) for x in range(side)], (side, side)


# Every job is one conversion of its own picture with its own settings.
JOBS = [
    (seed, options)
    for seed in range(6)
    for options in ({}, {"colormode": "binary"}, {"hierarchical": "cutout", "mode": "polygon"},
                    {"mode": "none", "color_precision": 8}, {"path_precision": 2, "filter_speckle": 1})
]


def run_job(job):
    seed, options = job
    pixels, size = picture(seed)
    try:
        return pixmorf.convert_pixels_to_svg(pixels, size, **options)
    except BaseException as error:
        return f"{type(error).__name__}: {error}"


def run_in_threads(work, thread_count):
    """Runs work(thread_number) in thread_count threads started together;
    returns their results in thread order and re-raises any failure."""
    results = [None] * thread_count
    errors = []
    start = threading.Barrier(thread_count)

    def body(number):
        try:
            start.wait()
            results[number] = work(number)
        except BaseException as error:  # noqa: B902 - reported to the main thread
            errors.append(error)

    threads = [threading.Thread(target=body, args=(number,)) for number in range(thread_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]
    return results


def test_threads_give_the_outputs_of_one_thread():
    expected = [run_job(job) for job in JOBS]

    def work(number):
        # Each thread walks the jobs from its own starting point, so different
        # pictures are converted at the same moment.
        order = [(number * 7 + k) % len(JOBS) for k in range(len(JOBS))]
        return {index: run_job(JOBS[index]) for index in order}

    for outputs in run_in_threads(work, THREADS):
        assert [outputs[index] for index in range(len(JOBS))] == expected


# Keyed (the top half is transparent) and holding all six fixed candidates, so
# the key colour is drawn at random.
CANDIDATES = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (0, 255, 255), (255, 0, 255)]


def all_candidates_picture(width=36, height=30):
    def colour(x, y):
        if y < height // 2:
            return (0, 0, 0, 0)
        if 17 <= y < 23 and x % 6 < 5 and x < 35:
            return (*CANDIDATES[x // 6], 255)
        return (255, 255, 255, 255)

    return [colour(x, y) for y in range(height) for x in range(width)], (width, height)


PICTURE_FILLS = {"#FFFFFF"} | {"#%02X%02X%02X" % colour for colour in CANDIDATES}


def without_key_colour(document):
    """The document with every fill that is none of the picture's own colours
    (the key colour, or a mixture with it) replaced by a placeholder."""
    return re.sub(r'fill="(#[0-9A-F]{6})"',
                  lambda match: match.group(0) if match.group(1) in PICTURE_FILLS else 'fill="KEY"', document)


@pytest.mark.parametrize("hierarchical", ["stacked", "cutout"])
def test_random_key_colour_in_many_threads(hierarchical):
    pixels, size = all_candidates_picture()
    reference = without_key_colour(pixmorf.convert_pixels_to_svg(pixels, size, hierarchical=hierarchical))

    def work(_):
        return [pixmorf.convert_pixels_to_svg(pixels, size, hierarchical=hierarchical)
                for _ in range(CALLS_PER_THREAD)]

    documents = [document for documents in run_in_threads(work, THREADS) for document in documents]
    assert all(document.endswith("</svg>\n") for document in documents)
    if hierarchical == "stacked":
        # Keyed pixels belong to no cluster: only the key colour itself could differ.
        assert [without_key_colour(document) for document in documents] == [reference] * len(documents)
    else:
        # Cutout clusters the keyed pixels, and a key colour drawn within the
        # layer difference of white (about one draw in 10,000) merges them
        # differently; nearly every draw gives the same shapes.
        shapes = [without_key_colour(document) for document in documents]
        assert max(shapes.count(candidate) for candidate in set(shapes)) >= len(documents) - 2
