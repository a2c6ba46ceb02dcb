"""The figures of a sweep, made to go into a paper: a row of panels per metric
chosen and a column per world. Against one swept gain, the mean over the seeds
with its 95 % interval as a marker with error bars at each sampled value (joined
by a line only when the values are a sampled range); over two, a heat map of the
means; with none, a marker per world. With a baseline, a second figure of the
paired differences to it. Axis labels give each quantity's meaning and unit, and
a caption line the seeds per point, the ticks and the simulated time per run.

Written as PNG (200 dpi), SVG (text kept as text) and PDF (fonts embedded)."""

import os
import textwrap
from typing import NamedTuple

from robosim.sweep_report import INTERVAL_NAME, describe_values, value_of
from robosim.sweep_rows import GAIN_MEANINGS, metric_label, shown

FORMATS = ("png", "svg", "pdf")
DEFAULT_FORMATS = ("png", "svg")
PNG_DPI = 200
PANEL_INCHES = (3.3, 2.6)
CAPTION_INCHES = 0.32
CAPTION_LINE_INCHES = 0.13
CAPTION_CHARS_PER_INCH = 17  # of 7-point DejaVu Sans, with a margin
STYLE = {
    "font.family": "DejaVu Sans",
    "font.size": 8,
    "axes.titlesize": 8.5,
    "axes.labelsize": 8,
    "xtick.labelsize": 7.5,
    "ytick.labelsize": 7.5,
    "legend.fontsize": 7,
    "svg.fonttype": "none",  # text stays text: searchable, editable, the same font
    "pdf.fonttype": 42,  # TrueType fonts embedded whole
    "axes.grid": True,
    "grid.alpha": 0.3,
}


class FigurePlan(NamedTuple):
    metrics: list  # the metrics, one row of panels each
    swept: list  # the gains with more than one value
    ranges: set  # the swept gains whose values are a sampled range
    shared_y: bool  # one y range (a colour range for heat maps) per row of panels
    ticks: int
    period_ms: int
    baseline: tuple | None  # (gain, value as the CSV writes it)


def gain_label(gain):
    return f"{gain} ({GAIN_MEANINGS[gain]})"


def axis_label(metric, prefix=""):
    """The metric's label, wrapped to fit beside a panel."""
    return textwrap.fill(prefix + metric_label(metric), 34)


def scenario(row):
    """What a column of panels shows: the world, with the pose and target placed."""
    return row["world"], row["pose"], row["target"]


def world_label(place):
    world, pose, target = place
    label = shown(os.path.basename(world)) if world else "default world"
    placed = [f"{name} {value}" for name, value in (("pose", pose), ("target", target)) if value]
    return ", ".join([label, *placed])


def plural(count, word):
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


def caption(plan, counts, unit="seeds", kind="error bars"):
    """The caption line: seeds per point, ticks and simulated minutes per run."""
    low, high = min(counts), max(counts)
    n = f"n = {low}" if low == high else f"n = {low} to {high}"
    minutes = plan.ticks * plan.period_ms / 60_000
    run = (f"each run {plan.ticks} ticks of {plan.period_ms} ms = {minutes:g} simulated "
           f"minute{'' if minutes == 1 else 's'}")
    what = {"error bars": f"error bars: mean ± {INTERVAL_NAME}",
            "paired": f"error bars: mean paired difference ± {INTERVAL_NAME}",
            "cells": "cells: mean over the seeds"}[kind]
    return f"{n} {unit} per point; {run}; {what}"


def cell_rows(rows, gains, values):
    return [row for row in rows if all(float(row[g]) == v for g, v in zip(gains, values))]


def sorted_values(rows, gain):
    return sorted({float(row[gain]) for row in rows})


def described(rows, metric):
    return describe_values([v for v in (value_of(row, metric) for row in rows) if v is not None])


def error_bars(descriptions):
    """matplotlib's yerr: distances below and above each mean (0 without an interval)."""
    return [[0 if d["ci95_low"] is None else d["mean"] - d["ci95_low"] for d in descriptions],
            [0 if d["ci95_high"] is None else d["ci95_high"] - d["mean"] for d in descriptions]]


def new_figure(pyplot, plan, rows_of_panels, columns):
    width = PANEL_INCHES[0] * columns + 0.4
    height = PANEL_INCHES[1] * rows_of_panels + CAPTION_INCHES
    figure, grid = pyplot.subplots(rows_of_panels, columns, figsize=(width, height),
                                   squeeze=False, sharey="row" if plan.shared_y else False)
    return figure, grid


def finish(figure, text):
    """Adds the caption below the panels, wrapped to the figure's width."""
    # No line break inside "(t, n − 1)".
    text = text.replace("(t, n − 1)", "(t,\u00a0n\u00a0−\u00a01)")
    lines = textwrap.wrap(text, max(40, int(figure.get_figwidth() * CAPTION_CHARS_PER_INCH)))
    caption_inches = CAPTION_INCHES + CAPTION_LINE_INCHES * (len(lines) - 1)
    height = figure.get_figheight() + caption_inches - CAPTION_INCHES
    figure.set_figheight(height)
    figure.text(0.5, 0.08 / height, "\n".join(lines), ha="center", va="bottom", fontsize=7)
    figure.tight_layout(rect=(0, caption_inches / height, 1, 1))


# --- The figure of the means ---------------------------------------------------------


def means_figure(pyplot, rows, plan):
    """The figure of the means, or None with three gains swept."""
    if len(plan.swept) > 2:
        return None
    worlds = list(dict.fromkeys(scenario(row) for row in rows))
    if not plan.swept:
        figure, grid = new_figure(pyplot, plan, len(plan.metrics), 1)
        counts = []
        for line, metric in enumerate(plan.metrics):
            counts += per_world(grid[line][0], rows, worlds, metric, legend=line == 0)
        finish(figure, caption(plan, counts))
        return figure
    figure, grid = new_figure(pyplot, plan, len(plan.metrics), len(worlds))
    counts = []
    for line, metric in enumerate(plan.metrics):
        colour_range = shared_range(rows, plan, metric) if len(plan.swept) == 2 else None
        for column, world in enumerate(worlds):
            axes = grid[line][column]
            mine = [row for row in rows if scenario(row) == world]
            if len(plan.swept) == 2:
                counts += heat_map(figure, axes, mine, plan, metric, colour_range)
            else:
                counts += against_gain(axes, mine, plan, metric,
                                       legend=line == 0 and column == 0)
            axes.set_title(world_label(world))
            if column > 0 and plan.shared_y and len(plan.swept) == 1:
                axes.set_ylabel("")
    finish(figure, caption(plan, counts, kind="cells" if len(plan.swept) == 2 else "error bars"))
    return figure


def per_world(axes, rows, worlds, metric, legend):
    descriptions = [described([row for row in rows if scenario(row) == w], metric)
                    for w in worlds]
    shown_at = [(i, d) for i, d in enumerate(descriptions) if d["n"]]
    axes.errorbar([i for i, _ in shown_at], [d["mean"] for _, d in shown_at],
                  yerr=error_bars([d for _, d in shown_at]), fmt="o", capsize=3, markersize=4,
                  label=f"mean ± {INTERVAL_NAME}")
    axes.set_xticks(range(len(worlds)), [world_label(w) for w in worlds],
                    rotation=30 if len(worlds) > 3 else 0)
    axes.set_xlim(-0.5, len(worlds) - 0.5)
    axes.set_ylabel(axis_label(metric))
    if legend:
        axes.legend(loc="best")
    return [d["n"] for _, d in shown_at]


def against_gain(axes, rows, plan, metric, legend):
    gain = plan.swept[0]
    xs = sorted_values(rows, gain)
    points = [(x, described(cell_rows(rows, [gain], [x]), metric)) for x in xs]
    points = [(x, d) for x, d in points if d["n"]]
    axes.errorbar([x for x, _ in points], [d["mean"] for _, d in points],
                  yerr=error_bars([d for _, d in points]), fmt="o",
                  linestyle="-" if gain in plan.ranges else "none", linewidth=0.8, capsize=3,
                  markersize=4, label=f"mean ± {INTERVAL_NAME}")
    label_gain_axis(axes, gain, xs)
    axes.set_ylabel(axis_label(metric))
    if legend:
        axes.legend(loc="best")
    return [d["n"] for _, d in points]


def label_gain_axis(axes, gain, xs):
    if len(xs) <= 12:
        axes.set_xticks(xs, [f"{x:g}" for x in xs])
    axes.set_xlabel(gain_label(gain))


def heat_grid(rows, plan, metric):
    """The gains' values and the means (NaN where no run has a value) and counts per cell."""
    import numpy as np

    gain_x, gain_y = plan.swept
    xs, ys = sorted_values(rows, gain_x), sorted_values(rows, gain_y)
    means = np.full((len(ys), len(xs)), np.nan)
    counts = []
    for j, y in enumerate(ys):
        for i, x in enumerate(xs):
            d = described(cell_rows(rows, [gain_x, gain_y], [x, y]), metric)
            if d["n"]:
                means[j, i] = d["mean"]
                counts.append(d["n"])
    return xs, ys, means, counts


def shared_range(rows, plan, metric):
    """The colour range of a row of heat maps: shared across the worlds when asked."""
    import numpy as np

    if not plan.shared_y:
        return None
    means = [heat_grid([r for r in rows if scenario(r) == world], plan, metric)[2]
             for world in dict.fromkeys(scenario(row) for row in rows)]
    finite = np.concatenate([m[np.isfinite(m)] for m in means])
    return (float(finite.min()), float(finite.max())) if finite.size else None


def heat_map(figure, axes, rows, plan, metric, colour_range):
    import numpy as np

    xs, ys, means, counts = heat_grid(rows, plan, metric)
    low, high = colour_range or (None, None)
    image = axes.imshow(means, origin="lower", aspect="auto", cmap="viridis", vmin=low, vmax=high)
    axes.grid(False)
    axes.set_xticks(range(len(xs)), [f"{x:g}" for x in xs], rotation=45 if len(xs) > 6 else 0)
    axes.set_yticks(range(len(ys)), [f"{y:g}" for y in ys])
    axes.set_xlabel(gain_label(plan.swept[0]))
    axes.set_ylabel(gain_label(plan.swept[1]))
    if len(xs) * len(ys) <= 64:
        for j in range(len(ys)):
            for i in range(len(xs)):
                if np.isfinite(means[j, i]):
                    shade = image.cmap(image.norm(means[j, i]))
                    light = 0.299 * shade[0] + 0.587 * shade[1] + 0.114 * shade[2] > 0.5
                    axes.text(i, j, f"{means[j, i]:.3g}", ha="center", va="center",
                              color="black" if light else "white", fontsize=7)
    figure.colorbar(image, ax=axes, label=axis_label(metric))
    return counts


# --- The figure of the paired differences ------------------------------------------


def differences_figure(pyplot, compared, plan):
    """Per world and metric the mean paired difference to the baseline, with its
    interval, against the baseline gain's other values; one series per value of
    the other swept gain, if any. None when nothing was compared."""
    if not compared or plan.baseline is None:
        return None
    from robosim.sweep_report import GROUP_COLUMNS

    gain, base = plan.baseline
    others = [g for g in plan.swept if g != gain]
    # The group columns begin with the world, the pose and the target.
    worlds = list(dict.fromkeys(key[:3] for key in compared))
    figure, grid = new_figure(pyplot, plan, len(plan.metrics), len(worlds))
    counts = []
    for line, metric in enumerate(plan.metrics):
        for column, world in enumerate(worlds):
            axes = grid[line][column]
            groups = {key: d[metric] for key, d in compared.items() if key[:3] == world}
            series = {}
            for key, d in groups.items():
                label = ", ".join(f"{g} = {float(key[GROUP_COLUMNS.index(g)]):g}" for g in others)
                x = float(key[GROUP_COLUMNS.index(gain)])
                series.setdefault(label, []).append((x, d))
            xs = sorted({x for points in series.values() for x, _ in points})
            span = (max(xs) - min(xs)) or 1.0
            for index, (label, points) in enumerate(series.items()):
                points = sorted((x, d) for x, d in points if d["n"])
                offset = (index - (len(series) - 1) / 2) * 0.02 * span
                axes.errorbar([x + offset for x, _ in points], [d["mean"] for _, d in points],
                              yerr=error_bars([d for _, d in points]), fmt="o", capsize=3,
                              markersize=4, linewidth=0.8,
                              linestyle="-" if gain in plan.ranges else "none",
                              label=label or f"mean paired difference ± {INTERVAL_NAME}")
                counts += [d["n"] for _, d in points]
            axes.axhline(0, color="0.4", linewidth=0.8, linestyle="--")
            label_gain_axis(axes, gain, xs)
            axes.set_ylabel(axis_label(metric, "Δ "))
            axes.set_title(f"{world_label(world)}: Δ to {gain} = {float(base):g}")
            if others and line == 0 and column == 0:
                axes.legend(loc="best")
    if not counts:
        pyplot.close(figure)
        return None
    text = caption(plan, counts, unit="seed pairs", kind="paired")
    finish(figure, f"Δ: a run's value minus the value of the run with the same seed at "
                   f"{gain} = {float(base):g}; {text}")
    return figure


# --- Writing ----------------------------------------------------------------------


def pyplot_module():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    return matplotlib, pyplot


def save(figure, base, formats, stop_requested):
    """Writes base.FORMAT for each format (each through a temporary file, so that
    an old figure stays whole until the new one is); returns the paths written.
    Stops early, leaving no temporary file, when stop_requested() says so."""
    written = []
    for fmt in formats:
        if stop_requested():
            break
        path = f"{base}.{fmt}"
        temporary = f"{path}.tmp{os.getpid()}"
        try:
            figure.savefig(temporary, format=fmt, dpi=PNG_DPI if fmt == "png" else "figure",
                           metadata={"Software": None} if fmt == "png" else None)
            os.replace(temporary, path)
        finally:
            if os.path.lexists(temporary):
                os.remove(temporary)
        written.append(path)
    return written


def draw(kind, data, plan, base, formats, stop_requested):
    """Draws the figure of `kind` ('means': data are the rows; 'differences':
    data are the paired comparisons) into base.FORMAT; returns the paths written,
    or None when there is nothing to draw."""
    if kind == "means" and not data:
        return None
    matplotlib, pyplot = pyplot_module()
    with matplotlib.rc_context(STYLE):
        maker = means_figure if kind == "means" else differences_figure
        figure = maker(pyplot, data, plan)
        if figure is None:
            return None
        try:
            return save(figure, base, formats, stop_requested)
        finally:
            pyplot.close(figure)
