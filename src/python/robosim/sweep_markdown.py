"""The Markdown report of a sweep (--report): what ran and how to run it again
(the command, the TOML configuration, the build), the runs, the summary tables
and the figures."""

import datetime
import os
import platform
import subprocess

from robosim.sweep_report import (
    GROUP_COLUMNS,
    INTERVAL_NAME,
    interval_text,
    meaningful_decimals,
    number,
    shown_number,
    write_atomically,
)
from robosim.sweep_rows import GAINS, metric_label, shown

PROGRAM = "robosim-sweep"


def build_description():
    """'robosim 1.0.0, source commit 1a2b3c4 (with changes)' as far as known."""
    try:
        from robosim import _build
    except ImportError:  # an installed package: its version, no source tree
        import robosim

        return f"robosim {robosim.__version__}"
    text = f"robosim {_build.VERSION}"
    commit = git(_build.SOURCE_DIR, "rev-parse", "--short=12", "HEAD")
    if commit:
        changes = git(_build.SOURCE_DIR, "status", "--porcelain", "--untracked-files=no")
        text += f", source commit {commit}" + (" with uncommitted changes" if changes else "")
    return text


def git(folder, *arguments):
    try:
        result = subprocess.run(["git", "-C", folder, *arguments], capture_output=True,
                                text=True, timeout=10, check=False)
    except (OSError, subprocess.SubprocessError):
        return ""
    return result.stdout.strip() if result.returncode == 0 else ""


def cell(text):
    """Text for a table cell: shown safely, with '|' escaped."""
    return shown(str(text)).replace("|", "\\|")


def code(text):
    fence = "``" if "`" in text else "`"
    return f"{fence}{shown(text)}{fence}"


def world_cell(world):
    return cell(world) if world else "(default)"


def varying_columns(summary):
    """The group columns whose value differs between groups (always the world)."""
    columns = ["world"]
    for column in GROUP_COLUMNS[1:]:
        if len({inputs[column] for inputs, _ in summary}) > 1:
            columns.append(column)
    return columns


def summary_tables(results):
    sweep = results.sweep
    columns = varying_columns(results.summary)
    lines = []
    for metric in sweep.metrics:
        lines += [f"### {metric}: {metric_label(metric)}", ""]
        head = [*columns, "n", "mean", "sd", INTERVAL_NAME]
        if sweep.baseline:
            gain, value = sweep.baseline
            head += [f"Δ to {gain} = {value}", "95 % CI of Δ", "p (paired t)", "pairs"]
        lines.append("| " + " | ".join(head) + " |")
        lines.append("|" + "---|" * len(head))
        for inputs, described in results.summary:
            d = described[metric]
            decimals = meaningful_decimals(d)
            interval = interval_text(d) if d["ci95_low"] is not None else ""
            cells = [world_cell(inputs[c]) if c == "world" else cell(inputs[c]) for c in columns]
            cells += [str(d["n"]), shown_number(d["mean"], decimals),
                      shown_number(d["sd"], decimals), interval]
            if sweep.baseline:
                key = tuple(inputs[c] for c in GROUP_COLUMNS)
                paired = results.compared.get(key, {}).get(metric)
                if paired is None:
                    cells += ["baseline" if inputs[sweep.baseline[0]] == sweep.baseline[1] else "",
                              "", "", ""]
                else:
                    paired_decimals = meaningful_decimals(paired)
                    cells += [shown_number(paired["mean"], paired_decimals),
                              interval_text(paired) if paired["ci95_low"] is not None else "",
                              number(paired["p"]), str(paired["n"])]
            lines.append("| " + " | ".join(cells) + " |")
        lines.append("")
    return lines


def figure_lines(results, folder):
    lines = []
    titles = {"means": "The means", "differences": "The paired differences to the baseline"}
    for kind, paths in results.figures.items():
        links = {os.path.splitext(p)[1][1:]: os.path.relpath(p, folder) for p in paths}
        picture = links.get("png") or links.get("svg")
        if picture:
            lines += [f"![{titles[kind]}]({shown(picture)})", ""]
        lines += [f"{titles[kind]}: " + ", ".join(f"[{fmt.upper()}]({shown(link)})"
                                                  for fmt, link in links.items()), ""]
    lines += [f"{note}." for note in results.notes]
    return lines


def run_lines(sweep, counts):
    worlds = len(sweep.worlds)
    shape = [f"{worlds} world{'s' if worlds != 1 else ''}", f"{len(sweep.seeds)} seeds"]
    shape += [f"{len(sweep.gains[g])} values of {g}" for g in GAINS if len(sweep.gains[g]) > 1]
    minutes = sweep.ticks * sweep.period_ms / 60_000
    return [f"{counts['runs']} runs ({' × '.join(shape)}), each {sweep.ticks} ticks of "
            f"{sweep.period_ms} ms ({minutes:g} simulated minute{'' if minutes == 1 else 's'}); "
            f"rows in {code(sweep.out)}: "
            f"{counts['done']} from this sweep, {counts['skipped']} from an earlier one, "
            f"{counts['failed']} failed."]


def write_report(results, command, counts):
    sweep = results.sweep
    folder = os.path.dirname(os.path.abspath(sweep.report))
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [f"# Sweep {cell(os.path.basename(sweep.out))}", "",
             f"Written {now} by {PROGRAM} of {build_description()}, Python "
             f"{platform.python_version()} on {platform.system()} {platform.machine()}.", "",
             "## Runs", "", *run_lines(sweep, counts), "",
             "## Summary", "",
             f"Per combination of the inputs other than the seed: n runs, the mean, the standard "
             f"deviation and the {INTERVAL_NAME}."
             + (" Δ is a run's value minus that of the run with the same seed at the baseline; "
                "its interval and p-value are those of the paired differences (paired t-test, "
                "two-sided)." if sweep.baseline else ""), "",
             *summary_tables(results),
             "## Figures", "", *figure_lines(results, folder), "",
             "## Running it again", "",
             f"The sweep ran in {code(os.getcwd())} as", "", "```sh", shown(command), "```", "",
             "Saved as `sweep.toml`, the configuration below runs the same runs again from that "
             "folder, with the same rows whatever the number of workers (another `--out` and "
             "`--report` keep this sweep's files):", "",
             "```sh", f"{PROGRAM} --config sweep.toml --out again.csv"
             + (" --report again.md" if sweep.report else ""), "```", "",
             "```toml", sweep.configuration().rstrip("\n"), "```", ""]
    write_atomically(sweep.report, lambda stream: stream.write("\n".join(lines)))
