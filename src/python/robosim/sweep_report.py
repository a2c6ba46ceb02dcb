"""The summary and the plot of a sweep: per combination of the inputs other than
the seed, the mean, standard deviation and 95 % confidence interval (Student's t)
of each metric, and targets reached per simulated minute plotted against the
swept gains."""

import csv
import math
import os
import statistics

GROUP_COLUMNS = ("world", "scale1", "scale2", "scale3", "ticks", "period_ms", "controller")
SUMMARY_METRICS = (
    "targets_reached",
    "targets_per_minute",
    "distance_travelled",
    "contacts",
    "least_push_distance",
    "stuck_spells",
    "stuck_seconds",
    "longest_stuck_seconds",
    "planning_failures",
)
SUMMARY_COLUMNS = (*GROUP_COLUMNS, "metric", "n", "mean", "sd", "ci95_low", "ci95_high")
PLOTTED = "targets_per_minute"


def t_quantile_975(degrees):
    """The 97.5 % quantile of Student's t with that many degrees of freedom."""
    from scipy.stats import t

    return float(t.ppf(0.975, degrees))


def describe_values(values):
    """n, mean, sd and the 95 % interval of the values; sd and the interval are
    None with fewer than two values, everything but n with none."""
    n = len(values)
    if n == 0:
        return {"n": 0, "mean": None, "sd": None, "ci95_low": None, "ci95_high": None}
    mean = statistics.fmean(values)
    if n < 2:
        return {"n": 1, "mean": mean, "sd": None, "ci95_low": None, "ci95_high": None}
    sd = statistics.stdev(values)
    half = t_quantile_975(n - 1) * sd / math.sqrt(n)
    return {"n": n, "mean": mean, "sd": sd, "ci95_low": mean - half, "ci95_high": mean + half}


def summarise(rows):
    """[(group inputs, {metric: description})] in the order the groups first appear."""
    groups = {}
    for row in rows:
        groups.setdefault(tuple(row[column] for column in GROUP_COLUMNS), []).append(row)
    summary = []
    for key, members in groups.items():
        metrics = {}
        for metric in SUMMARY_METRICS:
            # An empty cell (no push-back ray met a wall) is no value, not zero.
            values = [float(row[metric]) for row in members if row[metric] != ""]
            metrics[metric] = describe_values(values)
        summary.append((dict(zip(GROUP_COLUMNS, key)), metrics))
    return summary


def group_title(inputs):
    parts = [f"world {inputs['world'] or '(default)'}"]
    parts += [f"{gain} {inputs[gain]}" for gain in ("scale1", "scale2", "scale3") if inputs[gain]]
    parts.append(f"{inputs['ticks']} ticks of {inputs['period_ms']} ms")
    if inputs["controller"]:
        parts.append(f"controller {inputs['controller']}")
    return ", ".join(parts)


def number(value):
    return "" if value is None else f"{value:.6g}"


def format_summary(summary):
    """The summary as text: a block per group, a line per metric."""
    lines = []
    for inputs, metrics in summary:
        runs = max(d["n"] for d in metrics.values())
        lines.append(f"{group_title(inputs)}: {runs} run{'s' if runs != 1 else ''}")
        lines.append(f"  {'metric':<22} {'n':>4} {'mean':>12} {'sd':>12}  95 % interval")
        for metric, d in metrics.items():
            if d["n"] == 0:
                interval = "no values"
            elif d["n"] == 1:
                interval = "no interval (one run)"
            else:
                interval = f"{number(d['ci95_low'])} to {number(d['ci95_high'])}"
            lines.append(f"  {metric:<22} {d['n']:>4} {number(d['mean']):>12} "
                         f"{number(d['sd']) or '-':>12}  {interval}")
    return "\n".join(lines)


def write_summary_csv(summary, path):
    """The summary as CSV, one row per group and metric; written to a temporary
    file first so an old summary stays whole until the new one is complete."""
    temporary = f"{path}.tmp{os.getpid()}"
    try:
        with open(temporary, "w", newline="", encoding="utf-8") as stream:
            writer = csv.writer(stream, lineterminator="\n")
            writer.writerow(SUMMARY_COLUMNS)
            for inputs, metrics in summary:
                for metric, d in metrics.items():
                    writer.writerow([*(inputs[c] for c in GROUP_COLUMNS), metric, d["n"],
                                     *(number(d[k]) for k in ("mean", "sd", "ci95_low",
                                                              "ci95_high"))])
        os.replace(temporary, path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


# --- The plot -----------------------------------------------------------------


def plot(rows, swept_gains, path):
    """Draws targets reached per simulated minute into a PNG at path, one panel
    per world: a heat map over two swept gains, the mean with its interval
    against one, a bar per world with none. Returns None, or a note saying why
    nothing was drawn."""
    if not rows:
        return "no plot (no runs finished)"
    if len(swept_gains) > 2:
        return "no plot (plots show one or two swept gains, this sweep has three)"
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    worlds = list(dict.fromkeys(row["world"] for row in rows))
    if not swept_gains:
        figure, axes = pyplot.subplots(figsize=(5, 3.6), dpi=80)
        bars(axes, rows, worlds)
    else:
        columns = min(3, len(worlds))
        lines = math.ceil(len(worlds) / columns)
        figure, grid = pyplot.subplots(lines, columns, figsize=(4.8 * columns, 3.8 * lines),
                                       dpi=80, squeeze=False)
        for index, world in enumerate(worlds):
            axes = grid[index // columns][index % columns]
            mine = [row for row in rows if row["world"] == world]
            if len(swept_gains) == 2:
                heat_map(figure, axes, mine, *swept_gains)
            else:
                against_gain(axes, mine, swept_gains[0])
            axes.set_title(world_label(world))
        for index in range(len(worlds), lines * columns):
            grid[index // columns][index % columns].set_visible(False)
    figure.suptitle("targets reached per simulated minute")
    figure.tight_layout()
    temporary = f"{path}.tmp{os.getpid()}.png"
    try:
        figure.savefig(temporary, format="png")
        os.replace(temporary, path)
    finally:
        pyplot.close(figure)
        if os.path.exists(temporary):
            os.remove(temporary)
    return None


def world_label(world):
    return os.path.basename(world) if world else "default world"


def values_of(rows):
    return describe_values([float(row[PLOTTED]) for row in rows])


def sorted_gain_values(rows, gain):
    return sorted({float(row[gain]) for row in rows})


def heat_map(figure, axes, rows, gain_x, gain_y):
    import numpy as np

    xs = sorted_gain_values(rows, gain_x)
    ys = sorted_gain_values(rows, gain_y)
    means = np.full((len(ys), len(xs)), np.nan)
    for j, y in enumerate(ys):
        for i, x in enumerate(xs):
            cell = [row for row in rows if float(row[gain_x]) == x and float(row[gain_y]) == y]
            if cell:
                means[j, i] = values_of(cell)["mean"]
    image = axes.imshow(means, origin="lower", aspect="auto", cmap="viridis")
    axes.set_xticks(range(len(xs)), [f"{x:g}" for x in xs], rotation=45 if len(xs) > 6 else 0)
    axes.set_yticks(range(len(ys)), [f"{y:g}" for y in ys])
    axes.set_xlabel(gain_x)
    axes.set_ylabel(gain_y)
    if len(xs) * len(ys) <= 64:
        for j in range(len(ys)):
            for i in range(len(xs)):
                if not np.isnan(means[j, i]):
                    axes.text(i, j, f"{means[j, i]:.1f}", ha="center", va="center",
                              color="white", fontsize=8)
    figure.colorbar(image, ax=axes, label="mean over the seeds")


def against_gain(axes, rows, gain):
    xs = sorted_gain_values(rows, gain)
    described = [values_of([row for row in rows if float(row[gain]) == x]) for x in xs]
    means = [d["mean"] for d in described]
    axes.plot(xs, means, marker="o", label="mean")
    with_interval = [(x, d) for x, d in zip(xs, described) if d["ci95_low"] is not None]
    if with_interval:
        axes.fill_between([x for x, _ in with_interval], [d["ci95_low"] for _, d in with_interval],
                          [d["ci95_high"] for _, d in with_interval], alpha=0.25,
                          label="95 % interval")
    axes.set_xlabel(gain)
    axes.set_ylabel("targets per simulated minute")
    axes.grid(alpha=0.3)
    axes.legend(fontsize=8)


def bars(axes, rows, worlds):
    described = [values_of([row for row in rows if row["world"] == world]) for world in worlds]
    means = [d["mean"] for d in described]
    errors = [[0 if d["ci95_low"] is None else d["mean"] - d["ci95_low"] for d in described],
              [0 if d["ci95_high"] is None else d["ci95_high"] - d["mean"] for d in described]]
    axes.bar(range(len(worlds)), means, yerr=errors, capsize=4)
    axes.set_xticks(range(len(worlds)), [world_label(world) for world in worlds])
    axes.set_ylabel("targets per simulated minute")
