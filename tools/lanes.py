"""Stages run in lanes side by side: dependencies between them, their statuses, each one's wall and
CPU time, and the closing table. Standard library only; knows nothing of what the stages do."""

from __future__ import annotations

import difflib
import json
import os
import re
import subprocess
import sys
import threading
import time
import traceback
from collections import deque
from dataclasses import dataclass, replace
from pathlib import Path
from typing import IO, Callable, Dict, List, Optional, Sequence, Tuple

PASSED, FAILED, SKIPPED, NOT_APPLICABLE = "passed", "FAILED", "skipped", "n/a"
TICK_SECONDS = 30.0  # a quiet command says it is still running this often
TAIL_LINES = 40  # of a failed quiet command's log, shown in its lane


@dataclass(frozen=True)
class Need:
    """A stage that must come before, and what goes missing without it ("the module").

    Without `check`, the stage must have passed. With `check`, which says whether what that stage
    provides is at hand, the stage only has to have ended: a stage that installs tools is not
    needed where they are installed already."""

    stage: str
    what: str
    check: Optional[Callable[[], bool]] = None


@dataclass
class Stage:
    """One row of the closing table. `run` gets the stage's StageRun and returns whether it
    passed. `after` orders without depending: the stage waits for those stages' results,
    whatever they are, when they are part of the run. `summary` finds the closing line of the
    stage's output (pytest's, ctest's) to repeat after its status."""

    name: str
    lane: str
    run: Optional[Callable[["StageRun"], bool]] = None
    needs: Tuple[Need, ...] = ()
    after: Tuple[str, ...] = ()
    not_applicable: Optional[str] = None
    summary: Optional["re.Pattern[str]"] = None


@dataclass
class Result:
    status: str
    wall_s: float = 0.0
    cpu_s: float = 0.0
    note: str = ""  # the reason of a skipped or not-applicable stage, else the closing line


class PlanError(ValueError):
    pass


class Skip(Exception):
    """Raised by a stage's `run` that finds it cannot run here; the message is the reason."""


def check_plan(stages: Sequence[Stage]) -> None:
    """Refuses a plan that could not finish: a name twice, a dependency on a stage that does not
    exist, or a wait that never ends (a stage waiting for a later one of its own lane, or a cycle
    across lanes). O(stages + dependencies)."""
    by_name: Dict[str, Stage] = {}
    for stage in stages:
        if stage.name in by_name:
            raise PlanError(f"two stages are named {stage.name!r}")
        by_name[stage.name] = stage
    waits: Dict[str, List[str]] = {stage.name: [] for stage in stages}
    previous_in_lane: Dict[str, str] = {}
    for stage in stages:
        for other in [n.stage for n in stage.needs] + list(stage.after):
            if other not in by_name:
                raise PlanError(f"{stage.name!r} waits for {other!r}, which is no stage")
            waits[stage.name].append(other)
        if stage.lane in previous_in_lane:
            waits[stage.name].append(previous_in_lane[stage.lane])
        previous_in_lane[stage.lane] = stage.name
    state: Dict[str, int] = {}  # 1: being visited, 2: done

    def visit(name: str, path: List[str]) -> None:
        if state.get(name) == 2:
            return
        if state.get(name) == 1:
            cycle = path[path.index(name):] + [name]
            raise PlanError("stages wait for each other: " + " -> ".join(repr(n) for n in cycle))
        state[name] = 1
        for other in waits[name]:
            visit(other, path + [name])
        state[name] = 2

    for stage in stages:
        visit(stage.name, [])


def select(stages: Sequence[Stage], only: Sequence[str]) -> List[Stage]:
    """The stages named in `only` and every stage they need, in plan order; all of them when
    `only` is empty. An unknown name raises PlanError naming the closest ones."""
    if not only:
        return list(stages)
    by_name = {stage.name: stage for stage in stages}
    wanted: set = set()
    todo = list(only)
    while todo:
        name = todo.pop()
        if name in wanted:
            continue
        if name not in by_name:
            close = difflib.get_close_matches(name, by_name, n=3, cutoff=0.5)
            hint = f"; did you mean {' or '.join(repr(c) for c in close)}?" if close else ""
            raise PlanError(f"no stage is named {name!r}{hint} (--list shows them)")
        wanted.add(name)
        todo.extend(need.stage for need in by_name[name].needs)
    # An order kept with a stage that does not run is no order at all.
    return [replace(stage, after=tuple(a for a in stage.after if a in wanted)) for stage in stages
            if stage.name in wanted]


class Terminal:
    """Standard output shared by the lanes. A whole line from a side lane never lands in the middle
    of a line that the loud lane is still writing (pytest's dots)."""

    def __init__(self, out: IO[str]) -> None:
        self._out = out
        self._lock = threading.Lock()
        self._at_line_start = True

    def write(self, text: str) -> None:
        if not text:
            return
        with self._lock:
            self._out.write(text)
            self._out.flush()
            self._at_line_start = text.endswith("\n")

    def line(self, text: str) -> None:
        with self._lock:
            self._out.write(("" if self._at_line_start else "\n") + text + "\n")
            self._out.flush()
            self._at_line_start = True


class LaneOutput:
    """Where a lane writes: the terminal for the loud lane; for the others a log file, and their
    stage lines (prefixed with the lane) on the terminal as well."""

    def __init__(self, lane: str, terminal: Terminal, log: Optional[Path]) -> None:
        self.lane = lane
        self.terminal = terminal
        self.log = log
        self._file = open(log, "w", encoding="utf-8", errors="replace") if log is not None else None

    def write(self, text: str) -> None:
        if self._file is None:
            self.terminal.write(text)
        else:
            self._file.write(text)
            self._file.flush()

    def say(self, line: str) -> None:
        """A stage line: in the lane's output, and on the terminal from a side lane."""
        if self._file is None:
            self.terminal.line(line)
        else:
            self.write(line + "\n")
            self.terminal.line(f"[{self.lane}] {line}")

    def close(self) -> None:
        if self._file is not None:
            self._file.close()


class StageRun:
    """What a stage's `run` uses: commands whose CPU time counts to the stage, and its lane's output."""

    def __init__(self, stage: Stage, out: LaneOutput, logs: Path, tick_s: float) -> None:
        self.stage = stage
        self.out = out
        self.logs = logs
        self.tick_s = tick_s
        self.cpu_s = 0.0
        self.tail: deque = deque(maxlen=TAIL_LINES)  # the last lines of the last command's output

    def say(self, line: str) -> None:
        self.out.write(line + "\n")

    def log_path(self, name: str) -> Path:
        return self.logs / f"{name}.log"

    def sh(self, argv: Sequence[str], *, log: Optional[str] = None, env: Optional[Dict[str, str]] = None,
           cwd: Optional[Path] = None) -> bool:
        """Runs one command, stdin closed, and says whether it exited 0. Its output goes to the lane,
        or with `log` to logs/LOG.log, appended, with a line in the lane every `tick_s` naming that
        log and, if it fails, the end of the log. The CPU time of the command and of every process
        it waited for counts to this stage. Cost: the command's."""
        full_env = None if env is None else {**os.environ, **env}
        if log is None:
            return self._streamed(argv, full_env, cwd)
        path = self.log_path(log)
        with open(path, "ab") as sink:
            proc = subprocess.Popen(list(argv), stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT,
                                    env=full_env, cwd=cwd)
            done = threading.Event()
            ticker = threading.Thread(target=self._tick, args=(done, path), daemon=True)
            ticker.start()
            try:
                code = self._reap(proc)
            finally:
                done.set()
                ticker.join()
        self.tail = deque(_last_lines(path, TAIL_LINES), maxlen=TAIL_LINES)
        if code != 0:
            self.say(f"---- the last lines of {path}:")
            self.out.write("".join(line + "\n" for line in self.tail))
        return code == 0

    def _streamed(self, argv: Sequence[str], env: Optional[Dict[str, str]], cwd: Optional[Path]) -> bool:
        proc = subprocess.Popen(list(argv), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, env=env, cwd=cwd)
        assert proc.stdout is not None
        self.tail = deque(maxlen=TAIL_LINES)
        partial = ""
        while True:
            chunk = os.read(proc.stdout.fileno(), 65536)
            if not chunk:
                break
            text = chunk.decode("utf-8", errors="replace")
            self.out.write(text)
            lines = (partial + text).split("\n")
            partial = lines.pop()
            self.tail.extend(lines)
        proc.stdout.close()
        if partial:
            self.tail.append(partial)
        return self._reap(proc) == 0

    def _reap(self, proc: "subprocess.Popen[bytes]") -> int:
        # wait4 gives this child's own resource usage (with the children it waited for), where
        # RUSAGE_CHILDREN would mix in the commands of the other lanes.
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        self.cpu_s += usage.ru_utime + usage.ru_stime
        return proc.returncode

    def _tick(self, done: threading.Event, path: Path) -> None:
        began = time.monotonic()
        while not done.wait(self.tick_s):
            self.say(f"... {self.stage.name}: still running after {time.monotonic() - began:.0f} s (log: {path})")


def _last_lines(path: Path, n: int) -> List[str]:
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        f.seek(max(0, f.tell() - 256 * 1024))
        return f.read().decode("utf-8", errors="replace").splitlines()[-n:]


def command(*argv: str, log: Optional[str] = None, env: Optional[Dict[str, str]] = None) -> Callable[[StageRun], bool]:
    """A stage's `run` that is one command (see StageRun.sh)."""
    return lambda run: run.sh(argv, log=log, env=env)


class Matrix:
    """One run of a plan: each lane in a thread of its own, its stages in order; a stage waits for
    the stages it needs or comes after, in whatever lane."""

    def __init__(self, stages: Sequence[Stage], logs: Path, out: IO[str] = sys.stdout,
                 tick_s: float = TICK_SECONDS, command: str = "") -> None:
        check_plan(stages)
        self.command = command  # what was run, for logs/stages.json
        self.stages = list(stages)
        self.logs = logs
        self.tick_s = tick_s
        self.terminal = Terminal(out)
        self.lanes: List[str] = list(dict.fromkeys(stage.lane for stage in self.stages))
        self.results: Dict[str, Result] = {}
        self._current: Dict[str, str] = {}
        self._changed = threading.Condition()

    # -- one stage ----------------------------------------------------------------------------

    def _record(self, stage: Stage, result: Result) -> None:
        with self._changed:
            self.results[stage.name] = result
            self._changed.notify_all()

    def _wait_for(self, names: Sequence[str]) -> None:
        with self._changed:
            self._changed.wait_for(lambda: all(n in self.results for n in names))

    def because(self, name: str) -> str:
        status = self.results[name].status
        return {
            FAILED: f"because '{name}' failed",
            SKIPPED: f"because '{name}' was skipped",
            NOT_APPLICABLE: f"because '{name}' is not applicable here",
        }.get(status, f"after '{name}' passed")

    def _run_stage(self, stage: Stage, out: LaneOutput) -> None:
        if stage.not_applicable is not None:
            out.say(f"==> {stage.name}: not applicable: {stage.not_applicable}")
            self._record(stage, Result(NOT_APPLICABLE, note=stage.not_applicable))
            return
        self._wait_for([need.stage for need in stage.needs] + list(stage.after))
        for need in stage.needs:
            there = need.check() if need.check is not None else self.results[need.stage].status == PASSED
            if not there:
                reason = f"{need.what} missing {self.because(need.stage)}"
                out.say(f"==> {stage.name}: skipped: {reason}")
                self._record(stage, Result(SKIPPED, note=reason))
                return
        out.say(f"==> {stage.name}")
        self._current[stage.lane] = stage.name
        run = StageRun(stage, out, self.logs, self.tick_s)
        began = time.monotonic()
        try:
            ok = bool(stage.run(run)) if stage.run is not None else True
        except Skip as skip:
            out.say(f"<== {stage.name}: skipped: {skip}")
            self._record(stage, Result(SKIPPED, note=str(skip)))
            return
        except Exception:  # a fault of the plan's own code fails its stage, not the lane
            out.write(traceback.format_exc())
            ok = False
        wall = time.monotonic() - began
        closing = ""
        if stage.summary is not None:
            closing = next((line.strip(" =") for line in reversed(run.tail) if stage.summary.search(line)), "")
        status = PASSED if ok else FAILED
        verb = "passed in" if ok else "FAILED after"
        out.say(f"<== {stage.name}: {verb} {wall:.0f} s" + (f" ({closing})" if closing else ""))
        self._record(stage, Result(status, wall, run.cpu_s, closing))

    # -- the whole run ------------------------------------------------------------------------

    def run(self) -> int:
        """Runs every stage and prints the closing table; returns the exit status: 0 when every
        stage passed or is not applicable, 1 when any failed or was skipped."""
        self.logs.mkdir(parents=True, exist_ok=True)
        began = time.monotonic()
        outputs = {
            lane: LaneOutput(lane, self.terminal, None if i == 0 else self.logs / f"lane-{lane}.log")
            for i, lane in enumerate(self.lanes)
        }
        threads = {}
        for lane in self.lanes:
            stages = [s for s in self.stages if s.lane == lane]
            threads[lane] = threading.Thread(target=self._lane, args=(stages, outputs[lane]), daemon=True)
            threads[lane].start()
        for i, lane in enumerate(self.lanes):
            last_note = time.monotonic()
            while True:
                threads[lane].join(timeout=min(2.0, self.tick_s))
                if not threads[lane].is_alive():
                    break
                if i > 0 and time.monotonic() - last_note >= self.tick_s:
                    self.terminal.line(f"... waiting for lane {lane}: '{self._current.get(lane, '')}' is running "
                                       f"(log: {outputs[lane].log})")
                    last_note = time.monotonic()
            outputs[lane].close()
            if i > 0:
                log = outputs[lane].log
                assert log is not None
                self.terminal.line(f"\n======== lane {lane} ({log})")
                self.terminal.write(log.read_text(encoding="utf-8", errors="replace"))
        total_s = time.monotonic() - began
        self.terminal.write(self.table(total_s))
        (self.logs / "stages.json").write_text(json.dumps(self.summary(total_s), indent=1) + "\n")
        return 0 if all(r.status in (PASSED, NOT_APPLICABLE) for r in self.results.values()) else 1

    def _lane(self, stages: Sequence[Stage], out: LaneOutput) -> None:
        for stage in stages:
            self._run_stage(stage, out)

    def summary(self, total_s: float) -> dict:
        """The run as data (logs/stages.json), for the documents that quote a run's times."""
        return {"total_s": round(total_s, 1), "command": self.command, "stages": [
            {"name": s.name, "lane": s.lane, "status": self.results[s.name].status,
             "wall_s": round(self.results[s.name].wall_s, 1), "cpu_s": round(self.results[s.name].cpu_s, 1),
             "note": self.results[s.name].note} for s in self.stages if s.name in self.results]}

    def table(self, total_s: float) -> str:
        """The closing table: per lane, each stage's status, wall and CPU time, name and note."""
        lines = ["", f"======== stages: wall time, CPU time ({total_s:.0f} s in all)"]
        counts = {PASSED: 0, FAILED: 0, SKIPPED: 0, NOT_APPLICABLE: 0}
        for lane in self.lanes:
            lines.append(f"  lane {lane}:")
            for stage in self.stages:
                result = self.results.get(stage.name)
                if stage.lane != lane or result is None:
                    continue
                counts[result.status] += 1
                lines.append(f"    {result.status:<8} {result.wall_s:5.0f} s {result.cpu_s:5.0f} s  {stage.name}"
                             + (f": {result.note}" if result.note else ""))
        lines.append(f"stages: {counts[PASSED]} passed, {counts[FAILED]} failed, {counts[SKIPPED]} skipped, "
                     f"{counts[NOT_APPLICABLE]} not applicable")
        return "\n".join(lines) + "\n"


def list_stages(stages: Sequence[Stage]) -> str:
    """--list: the stages lane by lane, each with what it needs and waits for."""
    lines = []
    for lane in dict.fromkeys(stage.lane for stage in stages):
        lines.append(f"lane {lane}:")
        for stage in stages:
            if stage.lane != lane:
                continue
            extra = []
            if stage.not_applicable is not None:
                extra.append(f"not applicable: {stage.not_applicable}")
            if stage.needs:
                extra.append("needs " + ", ".join(f"'{n}'" for n in dict.fromkeys(n.stage for n in stage.needs)))
            if stage.after:
                extra.append("after " + ", ".join(f"'{a}'" for a in stage.after))
            lines.append(f"  {stage.name}" + (f"  ({'; '.join(extra)})" if extra else ""))
    return "\n".join(lines) + "\n"


def run_table(summary: dict) -> str:
    """A quoted run (its logs/stages.json) as Markdown: each lane's wall and CPU time and its
    costliest stages, then the whole run."""
    rows = []
    for lane in dict.fromkeys(s["lane"] for s in summary["stages"]):
        stages = [s for s in summary["stages"] if s["lane"] == lane]
        costliest = sorted(stages, key=lambda s: -s["cpu_s"])[:3]
        rows.append([lane, str(len(stages)), f"{sum(s['wall_s'] for s in stages) / 60:.1f}",
                     f"{sum(s['cpu_s'] for s in stages) / 60:.1f}",
                     ", ".join(f"{s['name']} {s['cpu_s'] / 60:.1f}" for s in costliest)])
    statuses = [s["status"] for s in summary["stages"]]
    counts = ", ".join(f"{statuses.count(k)} {k}" for k in (PASSED, FAILED, SKIPPED, NOT_APPLICABLE) if k in statuses)
    rows.append(["all", f"{len(statuses)} ({counts})", f"{summary['total_s'] / 60:.1f}",
                 f"{sum(s['cpu_s'] for s in summary['stages']) / 60:.1f}", ""])
    header = ["lane", "stages", "wall, min", "CPU, min", "costliest stages (CPU, min)"]
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    return "\n".join(lines + ["| " + " | ".join(r) + " |" for r in rows])
