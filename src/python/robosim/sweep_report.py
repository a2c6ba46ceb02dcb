"""The summary of a sweep: per combination of the inputs other than the seed, the
mean, standard deviation and 95 % confidence interval of the mean (Student's t,
n - 1 degrees of freedom) of each metric chosen; with a baseline, the paired
differences to it over the same seeds, their interval and a paired t-test's
p-value. As text, and as CSV."""

import csv
import math
import os
import statistics

from robosim.sweep_rows import GAINS, shown

GROUP_COLUMNS = ("world", "pose", "target", *GAINS, "ticks", "period_ms", "controller")
SUMMARY_COLUMNS = (*GROUP_COLUMNS, "metric", "n", "mean", "sd", "ci95_low", "ci95_high",
                   "baseline", "pairs", "diff_mean", "diff_sd", "diff_ci95_low", "diff_ci95_high",
                   "p_paired")
INTERVAL_NAME = "95 % CI of the mean (t, n − 1)"


def t_quantile_975(degrees):
    """The 97.5 % quantile of Student's t with that many degrees of freedom."""
    from scipy.stats import t

    return float(t.ppf(0.975, degrees))


# Metrics that may be negative; every other metric is a count, a distance or a
# time, whose mean cannot be below zero.
SIGNED_METRICS = frozenset({"final_heading"})


def describe_values(values, non_negative=False):
    """n, mean, sd and the 95 % interval of the mean of the values; sd and the
    interval are None with fewer than two values, everything but n with none.
    For a quantity that cannot be negative the interval is the t-interval cut at
    zero: the part below zero cannot hold the mean, so cutting it keeps the
    interval's 95 % coverage."""
    n = len(values)
    if n == 0:
        return {"n": 0, "mean": None, "sd": None, "ci95_low": None, "ci95_high": None}
    mean = statistics.fmean(values)
    if n < 2:
        return {"n": 1, "mean": mean, "sd": None, "ci95_low": None, "ci95_high": None}
    sd = statistics.stdev(values)
    half = t_quantile_975(n - 1) * sd / math.sqrt(n)
    low = max(mean - half, 0.0) if non_negative else mean - half
    return {"n": n, "mean": mean, "sd": sd, "ci95_low": low, "ci95_high": mean + half}


def describe_pairs(values, baseline_values):
    """The paired differences values - baseline_values: their description and
    the two-sided p-value of a paired t-test (None with fewer than two pairs, or
    when every difference is zero)."""
    differences = [value - base for value, base in zip(values, baseline_values)]
    described = describe_values(differences)
    described["p"] = None
    if described["n"] >= 2:
        if described["sd"] > 0:
            from scipy.stats import ttest_rel

            described["p"] = float(ttest_rel(values, baseline_values).pvalue)
        elif described["mean"] != 0:
            described["p"] = 0.0  # the same difference for every seed: t is infinite
    return described


def group_key(row):
    return tuple(row[column] for column in GROUP_COLUMNS)


def value_of(row, metric):
    """A cell as a number; None when empty (for example no push-back ray met a
    wall), which is no value rather than zero."""
    cell = row[metric]
    return None if cell == "" else float(cell)


def summarise(rows, metrics):
    """[(group inputs, {metric: description})] in the order the groups first appear."""
    groups = {}
    for row in rows:
        groups.setdefault(group_key(row), []).append(row)
    summary = []
    for key, members in groups.items():
        described = {}
        for metric in metrics:
            values = [value_of(row, metric) for row in members]
            described[metric] = describe_values([v for v in values if v is not None],
                                                non_negative=metric not in SIGNED_METRICS)
        summary.append((dict(zip(GROUP_COLUMNS, key)), described))
    return summary


def baseline_key(key, gain, value):
    """The group of the baseline that a group is compared with."""
    index = GROUP_COLUMNS.index(gain)
    return (*key[:index], value, *key[index + 1:])


def compare_paired(rows, metrics, baseline):
    """{group key: {metric: paired description}} for every group whose baseline
    group (the same inputs with the baseline's value) has rows; a seed counts
    when both of its runs have a value. baseline is (gain, value as the CSV
    writes it)."""
    gain, value = baseline
    by_seed = {(group_key(row), row["seed"]): row for row in rows}
    seeds_of = {}
    for row in rows:
        seeds_of.setdefault(group_key(row), []).append(row["seed"])
    compared = {}
    for key, seeds in seeds_of.items():
        base = baseline_key(key, gain, value)
        if key[GROUP_COLUMNS.index(gain)] == value or base not in seeds_of:
            continue
        compared[key] = {}
        for metric in metrics:
            pairs = []
            for seed in seeds:
                partner = by_seed.get((base, seed))
                if partner is None:
                    continue
                mine, theirs = value_of(by_seed[(key, seed)], metric), value_of(partner, metric)
                if mine is not None and theirs is not None:
                    pairs.append((mine, theirs))
            compared[key][metric] = describe_pairs([p[0] for p in pairs], [p[1] for p in pairs])
    return compared


# --- As text ------------------------------------------------------------------------


def world_name(world):
    return shown(world) if world else "(default)"


def group_title(inputs):
    parts = [f"world {world_name(inputs['world'])}"]
    parts += [f"{column} {inputs[column]}" for column in ("pose", "target") if inputs[column]]
    parts += [f"{gain} {inputs[gain]}" for gain in GAINS if inputs[gain]]
    parts.append(f"{inputs['ticks']} ticks of {inputs['period_ms']} ms")
    if inputs["controller"]:
        parts.append(f"controller {inputs['controller']}")
    return ", ".join(parts)


def number(value):
    return "" if value is None else f"{value:.6g}"


def meaningful_decimals(d):
    """The decimals that a description's figures are shown with in the reports:
    two significant digits of the standard deviation (finer digits of a mean
    are noise); None (six significant digits) without a spread."""
    sd = d.get("sd")
    if not sd or not math.isfinite(sd):
        return None
    return max(0, 1 - math.floor(math.log10(sd)))


def shown_number(value, decimals):
    """A figure of a report, rounded to its description's meaningful decimals."""
    if value is None:
        return ""
    if decimals is None:
        return number(value)
    text = f"{value:.{decimals}f}"
    return "0" if text.lstrip("-").strip("0.") == "" else text  # no "-0.0"


def interval_text(d):
    if d["n"] == 0:
        return "no values"
    if d["n"] == 1:
        return "no interval (one run)"
    decimals = meaningful_decimals(d)
    return f"{shown_number(d['ci95_low'], decimals)} to {shown_number(d['ci95_high'], decimals)}"


def paired_text(d):
    if d["n"] == 0:
        return "no pairs"
    decimals = meaningful_decimals(d)
    mean = shown_number(d["mean"], decimals)
    text = mean if mean.startswith("-") else f"+{mean}"
    if d["n"] >= 2:
        p = "-" if d["p"] is None else f"{d['p']:.3g}"
        text += f" ({interval_text(d)}), p {p}"
    return f"{text}, {d['n']} pair{'s' if d['n'] != 1 else ''}"


def format_summary(summary, compared=None, baseline=None):
    """The summary as text: a block per group, a line per metric, and with a
    baseline the paired difference to it."""
    compared = compared or {}
    lines = []
    for inputs, metrics in summary:
        runs = max(d["n"] for d in metrics.values())
        key = tuple(inputs[c] for c in GROUP_COLUMNS)
        lines.append(f"{group_title(inputs)}: {runs} run{'s' if runs != 1 else ''}")
        header = f"  {'metric':<22} {'n':>4} {'mean':>12} {'sd':>12}  {INTERVAL_NAME:<28}"
        if key in compared:
            header += f"  paired difference to {baseline[0]} = {baseline[1]} (95 % CI, p)"
        lines.append(header.rstrip())
        for metric, d in metrics.items():
            decimals = meaningful_decimals(d)
            line = (f"  {metric:<22} {d['n']:>4} {shown_number(d['mean'], decimals):>12} "
                    f"{shown_number(d['sd'], decimals) or '-':>12}  {interval_text(d):<28}")
            if key in compared:
                line += f"  {paired_text(compared[key][metric])}"
            lines.append(line.rstrip())
    return "\n".join(lines)


def summary_records(summary, compared, baseline):
    """The summary's CSV rows, one per group and metric."""
    baseline_text = f"{baseline[0]}={baseline[1]}" if baseline else ""
    for inputs, metrics in summary:
        key = tuple(inputs[c] for c in GROUP_COLUMNS)
        for metric, d in metrics.items():
            paired = compared.get(key, {}).get(metric)
            diff = ["", "", "", "", "", ""] if paired is None else [
                paired["n"], *(number(paired[k]) for k in ("mean", "sd", "ci95_low", "ci95_high")),
                number(paired["p"])]
            yield [*(inputs[c] for c in GROUP_COLUMNS), metric, d["n"],
                   *(number(d[k]) for k in ("mean", "sd", "ci95_low", "ci95_high")),
                   baseline_text, *diff]


def write_atomically(path, write):
    """Calls write(stream) on a temporary file beside path that then replaces
    it, so that an old file stays whole until the new one is complete."""
    temporary = f"{path}.tmp{os.getpid()}"
    try:
        with open(temporary, "w", newline="", encoding="utf-8", errors="surrogateescape") as stream:
            write(stream)
        os.replace(temporary, path)
    finally:
        if os.path.lexists(temporary):
            os.remove(temporary)


def write_summary_csv(summary, compared, baseline, path):
    def write(stream):
        writer = csv.writer(stream, lineterminator="\n")
        writer.writerow(SUMMARY_COLUMNS)
        writer.writerows(summary_records(summary, compared, baseline))

    write_atomically(path, write)
